#include "proc/InteractiveUser.h"

#include "base/Handles.h"
#include "base/Text.h"
#include "proc/Accounts.h"
#include "proc/TaskManager.h"

namespace {

std::string g_interactiveSid;   // the cached session user's SID text

}  // namespace

BOOL GetInteractiveUserSid(std::string& out)
{
    if (!g_interactiveSid.empty()) {
        out = g_interactiveSid;
        return TRUE;
    }
    std::string user;
    GetSessionUserName(user);
    CTaskManager manager;
    manager.Populate();
    for (unsigned i = 0; i < manager.GetProcessCount(); ++i) {
        CExeModuleInstance* process = manager.GetProcessByIndex(i);
        if (LowerCase949(process->GetName()).find("explorer.exe") != std::string::npos) continue;
        zelto::ScopedKernelHandle handle(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, process->GetProcessId()));
        if (!handle) continue;
        std::string account;
        if (!GetProcessAccountName(handle.get(), account, FALSE)) continue;
        if (account == user) {
            g_interactiveSid = process->GetOwnerSid();
            out = g_interactiveSid;
            return TRUE;
        }
    }
    return FALSE;
}
