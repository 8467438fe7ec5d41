#include "install/ProcessOperations.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "base/Text.h"
#include "proc/TaskManager.h"
#include "sys/Util.h"
#include "ui/MsgDialog.h"

#include <functional>
#include <string>

namespace {

// How often the user is asked to close the browser for one file before the
// answer counts as Cancel: the wait for a holder to let go has an end even
// when the browser never does.
const int kMaxAsks = 10;

// IDOK only when the user pressed OK: a dialog that could not be shown is no
// consent.
int AskToCloseBrowser(BYTE mode, HWND disableWnd)
{
    CMsgDialog dialog(disableWnd, mode, CUtil::Folders().nIEMajorVersion, nullptr);
    INT_PTR answer = dialog.DoModal();
    if (answer == -1) WriteLog(1, "[AskToCloseBrowser] the dialog could not be shown; taken as Cancel");
    return answer == IDOK ? IDOK : IDCANCEL;
}

using Matcher = std::function<bool(const CModuleInstance&)>;

BOOL CloseProcessesUsing(const char* probe, const Matcher& matches, BYTE mode, HWND disableWnd, BYTE* agreement,
                         BYTE detectOnly)
{
    // A free file needs no look at the processes (no probe: always look).
    if (probe && CUtil::Folders().osVersion.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS && IsFileFree(probe))
        return TRUE;
    CTaskManager manager;
    manager.Populate();
    for (unsigned p = 0; p < manager.GetProcessCount(); ++p) {
        CExeModuleInstance* process = manager.GetProcessByIndex(p);
        for (size_t m = 0; m < process->GetModuleCount(); ++m) {
            if (!matches(*process->GetModuleByIndex(m))) continue;
            if (detectOnly == 1) return FALSE;
            if (!agreement) {
                if (AskToCloseBrowser(mode, disableWnd) == IDCANCEL) return FALSE;
            } else if (*agreement == 0) {
                if (AskToCloseBrowser(mode, disableWnd) == IDCANCEL) return FALSE;
                *agreement = 1;
            }
            zelto::ScopedKernelHandle handle(::OpenProcess(PROCESS_TERMINATE, FALSE, process->GetProcessId()));
            if (!handle) break;   // passed over: on with the next process
            if (!::TerminateProcess(handle.get(), 0)) return FALSE;
            handle.reset();
            ::Sleep(500);
        }
    }
    return TRUE;
}

}  // namespace

BOOL IsFileFree(const char* path)
{
    zelto::ScopedFile file(::CreateFileA(path ? path : "", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         0x00110000, nullptr));
    if (file) return TRUE;
    DWORD error = ::GetLastError();
    return (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) ? FALSE : TRUE;
}

BOOL CloseProcessesUsingModuleName(const char* name, BYTE mode, HWND disableWnd, BYTE* agreement, BYTE detectOnly,
                                   const char* probePath)
{
    const std::string wanted = name ? name : "";
    auto matches = [&](const CModuleInstance& module) { return lstrcmpiA(module.GetBaseName(), wanted.c_str()) == 0; };
    return CloseProcessesUsing(probePath, matches, mode, disableWnd, agreement, detectOnly);
}

BOOL CloseProcessesUsingModulePath(const char* path, BYTE mode, HWND disableWnd, BYTE* agreement, BYTE detectOnly)
{
    char given[MAX_PATH] = {};
    lstrcpynA(given, path ? path : "", MAX_PATH);
    const std::string wanted = LowerCase949(given);
    auto matches = [&](const CModuleInstance& module) {
        char longPath[MAX_PATH];
        lstrcpynA(longPath, module.GetName(), MAX_PATH);   // as reported when no long form is had
        ::GetLongPathNameA(module.GetName(), longPath, MAX_PATH);
        return lstrcmpiA(longPath, wanted.c_str()) == 0;
    };
    return CloseProcessesUsing(given, matches, mode, disableWnd, agreement, detectOnly);
}

BYTE WaitUntilFileReleased(const char* path, BYTE mode, HWND disableWnd)
{
    if (CUtil::Folders().nIEMajorVersion < 8) return 1;
    BYTE agreement = 0;
    if (CloseProcessesUsingModulePath(path, mode, disableWnd, &agreement, 1)) return 1;
    for (int ask = 0; ask < kMaxAsks; ++ask) {
        if (AskToCloseBrowser(mode, disableWnd) == IDCANCEL) return 0;
        if (CloseProcessesUsingModulePath(path, mode, disableWnd, &agreement, 1)) return 1;
    }
    WriteLog(1, "[WaitUntilFileReleased] %s still held after %d requests; taken as Cancel", path ? path : "", kMaxAsks);
    return 0;
}
