#include "sys/UserSettings.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "proc/Accounts.h"
#include "proc/InteractiveUser.h"
#include "sys/Platform.h"
#include "sys/RegKey.h"

#include <wtsapi32.h>

namespace {

const char kQrvKey[] = "SOFTWARE\\QRV Corporation";

}  // namespace

BOOL IsRunningAsOtherUser(BOOL* other)
{
    std::string session;
    if (!GetSessionUserName(session)) return FALSE;
    char name[257] = "";
    DWORD size = sizeof(name);
    ::GetUserNameA(name, &size);
    if (other) *other = session != name;
    return TRUE;
}

UserRoot SelectUserRoot(const char* path)
{
    BOOL other = FALSE;
    if (IsVistaOrLater() && IsRunningAsOtherUser(&other) && other) {
        std::string sid;
        GetInteractiveUserSid(sid);
        return {HKEY_USERS, sid + "\\" + (path ? path : "")};
    }
    return {HKEY_CURRENT_USER, path ? path : ""};
}

BOOL SetNoShowIfUpdate(BYTE flag)
{
    UserRoot where = SelectUserRoot(kQrvKey);
    CRegKey key;
    if (key.Open(where.root, where.path.c_str(), ZELTO_KEY_WRITE) != ERROR_SUCCESS) {
        WriteLog(2, "[CUtil::SetNoShowIfUpdate] regkey.Open(HKEY_CURRENT_USER, SOFTWARE\\QRV Corporation != ERROR_SUCCESS");
        if (key.Create(where.root, where.path.c_str()) != ERROR_SUCCESS) {
            WriteLog(2, "[CUtil::SetNoShowIfUpdate] regkey.Create(HKEY_CURRENT_USER, SOFTWARE\\QRV Corporation != ERROR_SUCCESS");
            return FALSE;
        }
    }
    if (flag == 1) {
        if (key.SetDWORDValue("NoShowIfUpdate", 1) == ERROR_SUCCESS) {
            WriteLog(2, "[CUtil::SetNoShowIfUpdate] SetDWORDValue NoShowIfUpdate == ERROR_SUCCESS");
            return TRUE;
        }
        WriteLog(2, "[CUtil::SetNoShowIfUpdate] SetDWORDValue NoShowIfUpdate != ERROR_SUCCESS");
        return FALSE;
    }
    if (key.DeleteValue("NoShowIfUpdate") == ERROR_SUCCESS) {
        WriteLog(2, "[CDlgUninstall::UnregisterFiles] DeleteSubKey NoShowIfUpdate == ERROR_SUCCESS");
        return TRUE;
    }
    WriteLog(3, "[CDlgUninstall::UnregisterFiles] DeleteSubKey NoShowIfUpdate != ERROR_SUCCESS");
    return FALSE;
}

BOOL GetNoShowIfUpdate(BYTE* flag)
{
    if (flag) *flag = 0;
    UserRoot where = SelectUserRoot(kQrvKey);
    CRegKey key;
    if (key.Open(where.root, where.path.c_str(), ZELTO_KEY_READ) != ERROR_SUCCESS) return FALSE;
    DWORD value = 0;
    if (key.QueryDWORDValue("NoShowIfUpdate", value) != ERROR_SUCCESS) return FALSE;
    if (flag) *flag = value == 1 ? 1 : 0;
    return TRUE;
}
