// The one process starter: auxiliary programs, placed files, the
// registration tool.
#include "sys/Util.h"

#include "base/Handles.h"
#include "base/Log.h"

#include <vector>

BOOL CUtil::ExecuteFile(const char* path, const char* parameters, BOOL wait, DWORD* exitCode, DWORD waitMs)
{
    if (!path) return FALSE;
    // The program path is quoted: unquoted, a path with blanks such as
    // C:\Program Files\Zelto\x.exe would first start C:\Program.exe.
    std::string commandLine = std::string("\"") + path + "\"";
    if (parameters && parameters[0]) commandLine += std::string(" ") + parameters;

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    WriteLog(2, "[ExecuteFile] Call CreateProcess(%s)", commandLine.c_str());

    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                          nullptr, &startup, &process)) {
        WriteLog(1, "[ExecuteFile] CreateProcess(%s) Failed (Error Code = %d)", path, ::GetLastError());
        return FALSE;
    }
    zelto::ScopedKernelHandle thread(process.hThread);
    zelto::ScopedKernelHandle child(process.hProcess);
    if (wait) {
        if (::WaitForSingleObject(child.get(), waitMs) == WAIT_TIMEOUT) {
            // A program that hangs is ended: the run does not wait for it.
            ::TerminateProcess(child.get(), WAIT_TIMEOUT);
            ::WaitForSingleObject(child.get(), 5000);
            WriteLog(1, "[ExecuteFile] %s did not end within %u s; ended", path, static_cast<unsigned>(waitMs / 1000));
            if (exitCode) *exitCode = WAIT_TIMEOUT;
            return FALSE;
        }
        if (exitCode && !::GetExitCodeProcess(child.get(), exitCode)) *exitCode = ::GetLastError();
    }
    WriteLog(2, "[ExecuteFile] CreateProcess(%s) Success", path);
    return TRUE;
}
