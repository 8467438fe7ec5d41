#include "catalogue/UpdateDecision.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "base/RunMode.h"
#include "catalogue/FileRegistration.h"
#include "sys/RegKey.h"
#include "sys/Sha256.h"
#include "sys/Util.h"

#include <ZeltoConfig.h>

namespace {

bool Search(const std::string& path, WIN32_FIND_DATAA& found)
{
    zelto::ScopedFind find(::FindFirstFileA(path.c_str(), &found));
    return find.valid() && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A UTC file time as local calendar time, to the second.
SYSTEMTIME LocalSeconds(const FILETIME& utc)
{
    FILETIME local;
    SYSTEMTIME time = {};
    ::FileTimeToLocalFileTime(&utc, &local);
    ::FileTimeToSystemTime(&local, &time);
    time.wMilliseconds = 0;
    time.wDayOfWeek = 0;
    return time;
}

bool SameSecond(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

}  // namespace

BOOL CheckUpdate(const CUpdateInfo& file, const WIN32_FIND_DATAA& found, const std::string& foundPath)
{
    const char* dest = file.m_szDestFileName.c_str();
    if (file.m_dwFileSize != 0 && (found.nFileSizeHigh != 0 || found.nFileSizeLow != file.m_dwFileSize)) {
        WriteLog(2, "[CheckUpdate] FileSize (%s) (U:%d) != (L:%d)", dest, file.m_dwFileSize, found.nFileSizeLow);
        return 1;
    }
    if (file.m_ftFileTime != 0) {
        FILETIME expected = {static_cast<DWORD>(file.m_ftFileTime), static_cast<DWORD>(file.m_ftFileTime >> 32)};
        SYSTEMTIME u = LocalSeconds(expected), l = LocalSeconds(found.ftLastWriteTime);
        if (!SameSecond(u, l)) {
            WriteLog(2, "[CDlgDownload::CheckUpdate] FileTime (%s) (U:%d.%d.%d %d:%d:%d) != (L:%d.%d.%d %d:%d:%d)", dest,
                     u.wYear, u.wMonth, u.wDay, u.wHour, u.wMinute, u.wSecond, l.wYear, l.wMonth, l.wDay, l.wHour,
                     l.wMinute, l.wSecond);
            return 1;
        }
    }
    DWORD high = 0, low = 0;
    if (!CUtil::GetFileVersion(foundPath.c_str(), &high, &low)) return 0;
    bool newer = file.m_dwVersionMS != high ? file.m_dwVersionMS > high : file.m_dwVersionLS > low;
    if (newer) {
        WriteLog(2, "[CheckUpdate] FileVersion (%s) (U:%d:%d) != (L:%d:%d)", dest, file.m_dwVersionMS,
                 file.m_dwVersionLS, high, low);
        return 1;
    }
    return 0;
}

BOOL IsUpdateNeeded(CUpdateInfo& file)
{
    WIN32_FIND_DATAA found;
    if (file.m_szDestFileName.empty() || !Search(file.m_szDestFileName, found)) {
        WriteLog(2, "[CreateUpdateList] File do not exist (%s)", file.m_szDestFileName.c_str());
        return 1;
    }
    // A present file marked REGISTER is registered again; when that fails it
    // is installed again. Nothing is deleted here: the user has not agreed
    // to anything yet, and may cancel.
    if (!RegisterServer(file, false)) {
        WriteLog(1, "[CreateUpdateList] %s does not register: installed again", file.m_szDestFileName.c_str());
        return 1;
    }

    BOOL r = CheckUpdate(file, found, file.m_szDestFileName);
    // Verifying: a file that looks current but whose bytes are not the
    // published ones (damaged, or changed by someone) is installed again.
    // Only a plain download's SHA256 describes the placed file itself.
    if (r != 1 && IsVerifyRun() && !file.m_szSha256.empty() && !IsArchiveDownload(file.m_szName, file.m_szSource)) {
        const std::string present = CSha256::OfFile(file.m_szDestFileName.c_str());
        if (!CSha256::Same(present, file.m_szSha256)) {
            WriteLog(1, "[CheckUpdate] %s differs from its SHA256 (%s, catalogue %s): installed again",
                     file.m_szDestFileName.c_str(), present.empty() ? "unreadable" : present.c_str(),
                     file.m_szSha256.c_str());
            r = 1;
        }
    }
    if (r != 1) {
        WriteLog(2, "[CreateUpdateList] do not need to update file (%s)", file.m_szDestFileName.c_str());
        return r;
    }
    // An archive's SHA256 covers the archive, not the file it delivers: a
    // staged archive is judged by it when the files are fetched.
    if (IsArchiveDownload(file.m_szName, file.m_szSource)) return 1;
    const std::string staged = CUtil::GetStagingFolder() + "\\" + file.m_szName;
    WIN32_FIND_DATAA stagedFound;
    if (!Search(staged, stagedFound)) return 1;
    WriteLog(2, "[CreateUpdateList] Temp File exist (%s)", staged.c_str());
    // A staged copy counts only when it is the published one.
    if (!file.m_szSha256.empty() && !CSha256::Same(CSha256::OfFile(staged.c_str()), file.m_szSha256)) {
        WriteLog(2, "[CreateUpdateList] Temp File differs from its SHA256 (%s)", staged.c_str());
        ::DeleteFileA(staged.c_str());
        return 1;
    }
    if (CheckUpdate(file, stagedFound, staged) == 1) {
        ::DeleteFileA(staged.c_str());
        return 1;
    }
    file.m_bDownloaded = 1;
    return 1;
}

std::string GetCompanionVersion()
{
    std::string library;
    CRegKey key;
    std::string path = std::string("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\") +
                       ZELTO_COMPANION_CLSID + "\\Contains\\Files";
    if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), ZELTO_KEY_READ) == ERROR_SUCCESS) {
        bool found = false;
        for (DWORD index = 0;; ++index) {
            char name[MAX_PATH];
            DWORD length = sizeof(name);
            if (::RegEnumValueA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            std::string full(name);
            size_t slash = full.find_last_of("\\/");
            if (full.substr(slash == std::string::npos ? 0 : slash + 1) == "ZeltoOmbrix.dll") {
                library = full;
                found = true;
                break;
            }
        }
        if (!found) WriteLog(2, "RegEnumValue can't find");
    }
    DWORD high = 0, low = 0;
    if (!library.empty()) CUtil::GetFileVersion(library.c_str(), &high, &low);
    return CUtil::FormatVersion(high, low);
}
