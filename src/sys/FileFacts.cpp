// Small questions about single files.
#include "sys/Util.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"

#include <vector>

bool CUtil::ReadSmallFile(const std::string& path, DWORD limit, std::string& out)
{
    zelto::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD size = ::GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE || size > limit) return false;
    out.assign(size, '\0');
    DWORD read = 0;
    return size == 0 || (::ReadFile(file.get(), &out[0], size, &read, nullptr) && read == size);
}

BOOL CUtil::IsFileExist(const char* path)
{
    zelto::ScopedFile file(::CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return TRUE;
    DWORD error = ::GetLastError();
    RecordLastError(ERR_LOCAL_FILE, error);
    WriteLog(1, "[IsFileExist] CreateFile(%s) Failed, Error Code = %d", path ? path : "", error);
    return FALSE;
}

BOOL CUtil::GetFileVersion(const char* path, DWORD* high, DWORD* low)
{
    if (high) *high = 0;
    if (low) *low = 0;
    if (!path || !high || !low) return FALSE;
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return FALSE;
    std::vector<BYTE> buffer(size);
    if (!::GetFileVersionInfoA(path, 0, size, buffer.data())) return FALSE;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(buffer.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info) return FALSE;
    *high = info->dwFileVersionMS;
    *low = info->dwFileVersionLS;
    return TRUE;
}

std::string CUtil::FormatVersion(DWORD high, DWORD low)
{
    char text[64];
    wsprintfA(text, "%d.%d.%d.%d", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
    return text;
}

std::string CUtil::NextCommaToken(std::string& list)
{
    size_t comma = list.find(',');
    if (comma == std::string::npos) {
        std::string token;
        token.swap(list);
        return token;
    }
    std::string token = list.substr(0, comma);
    std::string rest = list.substr(comma + 1);
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    size_t begin = 0, end = rest.size();
    while (begin < end && isSpace(rest[begin])) ++begin;
    while (end > begin && isSpace(rest[end - 1])) --end;
    list = rest.substr(begin, end - begin);
    return token;
}
