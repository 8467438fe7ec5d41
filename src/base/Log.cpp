#include "base/Log.h"

#include "base/Handles.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace {

struct LogState {
    bool started = false;
    BYTE level = 0;
    BYTE flags = 0;
    char folder[MAX_PATH] = {};
    zelto::ScopedFile runFile;   // the run's own log file ("-l"), when one was given
    std::string runPath;
};

LogState g_log;

const char kTag[] = "[ZeltoSetup]";
const char kFileName[] = "ZeltoOmbrix.log";

// Length of the longest prefix of text[0..len) that does not end inside a
// double-byte character of code page 949.
size_t CutAtCharBoundary(const char* text, size_t len)
{
    size_t i = 0;
    while (i < len) {
        size_t step = ::IsDBCSLeadByteEx(949, static_cast<BYTE>(text[i])) ? 2 : 1;
        if (i + step > len) break;
        i += step;
    }
    return i;
}

void AppendToFile(const char* line, DWORD length)
{
    char path[MAX_PATH + 32];
    wsprintfA(path, "%s\\%s", g_log.folder, kFileName);

    WIN32_FILE_ATTRIBUTE_DATA info;
    bool restart = ::GetFileAttributesExA(path, GetFileExInfoStandard, &info) &&
                   (info.nFileSizeHigh != 0 || info.nFileSizeLow >= LOG_RESTART_SIZE);

    zelto::ScopedFile file(::CreateFileA(
        path, restart ? GENERIC_WRITE : FILE_APPEND_DATA,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        restart ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    ::WriteFile(file.get(), line, length, &written, nullptr);
}

}  // namespace

void StartLog(BYTE flags, BYTE level)
{
    g_log.flags = flags;
    g_log.level = level;
    g_log.started = true;

    char module[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) module[0] = '\0';
    char* slash = std::strrchr(module, '\\');
    if (slash) *slash = '\0'; else module[0] = '\0';
    lstrcpynA(g_log.folder, module, MAX_PATH);

    SYSTEMTIME now;
    ::GetLocalTime(&now);
    WriteLog(1, "===== Start [ %d-%d-%d, %d:%d:%d ] Level = %d =====",
             now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, level);
}

bool StartLogFile(BYTE flags, const char* path)
{
    if (!path || !path[0]) return false;
    // A name planted in advance must not lead the elevated program's writes
    // elsewhere: the file is made new, and an existing name of any kind (a
    // file, a link, a junction) is refused rather than followed or removed.
    zelto::ScopedFile file(::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return false;
    g_log.runFile = std::move(file);
    g_log.runPath = path;
    g_log.flags = flags;
    g_log.level = 2;
    g_log.started = true;
    lstrcpynA(g_log.folder, path, MAX_PATH);   // any text: lines are written
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    WriteLog(1, "===== Start [ %d-%d-%d, %d:%d:%d ] Level = %d =====",
             now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, 2);
    return true;
}

void StopLog()
{
    g_log.started = false;
    g_log.runFile.reset();
    g_log.runPath.clear();
}

void WriteLog(BYTE level, const char* format, ...)
{
    if (!g_log.started || level > g_log.level || g_log.folder[0] == '\0' || !format) return;
    // Writing the line must not change the error its caller may read next.
    const DWORD callersError = ::GetLastError();

    // wvsprintfA writes at most 1,024 bytes including its terminator.
    char text[1025];
    va_list args;
    va_start(args, format);
    int formatted = ::wvsprintfA(text, format, args);
    va_end(args);
    if (formatted < 0) formatted = 0;
    text[sizeof(text) - 1] = '\0';

    char line[LOG_LINE_BUFFER];
    const size_t tagLength = sizeof(kTag) - 1;
    const size_t room = LOG_LINE_BUFFER - tagLength - 3;   // CR, LF, terminator
    size_t textLength = CutAtCharBoundary(text, std::min<size_t>(std::strlen(text), room));
    std::memcpy(line, kTag, tagLength);
    std::memcpy(line + tagLength, text, textLength);
    size_t length = tagLength + textLength;
    line[length++] = '\r';
    line[length++] = '\n';
    line[length] = '\0';

    if (g_log.runFile) {
        DWORD written = 0;
        ::WriteFile(g_log.runFile.get(), line, static_cast<DWORD>(length), &written, nullptr);
    } else {
        AppendToFile(line, static_cast<DWORD>(length));
    }
    if (g_log.flags & LOG_FLAG_DEBUGGER) ::OutputDebugStringA(line);
    ::SetLastError(callersError);
}

std::string GetLogFilePath()
{
    if (g_log.started && g_log.runFile) return g_log.runPath;
    if (!g_log.started || g_log.folder[0] == '\0') return std::string();
    return std::string(g_log.folder) + "\\" + kFileName;
}

BYTE ReadLogLevelSetting()
{
    zelto::ScopedRegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\QRV Corporation\\", 0, KEY_QUERY_VALUE,
                        key.receive()) != ERROR_SUCCESS)
        return 0;
    BYTE data[4] = {};
    DWORD size = sizeof(data);
    if (::RegQueryValueExA(key.get(), "ZeltoSetupLog", nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        return 0;
    // Only the lowest 8 bits of the little-endian number count.
    return data[0];
}
