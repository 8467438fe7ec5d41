#include "catalogue/FileRegistration.h"

#include "base/Log.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

#include <ZeltoConfig.h>

namespace {

const char kPreApproved[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved";
const char kStats[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats";

// Creates a key (and its missing parents) with read and write access.
LONG CreateKey(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    LONG error = ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                   nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) ::RegCloseKey(key);
    return error;
}

std::string Braced(const CUpdateInfo& file)
{
    return "{" + file.m_szClassId + "}";
}

int BrowserVersion()
{
    return CUtil::Folders().nIEMajorVersion;
}

}  // namespace

BOOL RegisterServer(const CUpdateInfo& file, bool deleteOnFailure)
{
    if (!file.m_bRegister) return TRUE;
    const char* dest = file.m_szDestFileName.c_str();
    if (CUtil::RegisterServer(dest) != 1) {
        WriteLog(1, "[RegisterServer] RegisterServer(%s) Failed", dest);
        if (deleteOnFailure) ::DeleteFileA(dest);
        return FALSE;
    }
    WriteLog(2, "[RegisterServer] RegisterServer(%s) Success", dest);
    RegisterPermissionKeys(file);
    return TRUE;
}

void RegisterPermissionKeys(const CUpdateInfo& file)
{
    if (BrowserVersion() >= 7) RegisterPreApproved(file);
    if (BrowserVersion() >= 8) RegisterAllowedDomains(file);
}

BOOL UnregisterServer(const CUpdateInfo& file)
{
    if (!file.m_bRegister) return TRUE;
    const char* dest = file.m_szDestFileName.c_str();
    if (CUtil::UnregisterServer(dest) != 1) {
        WriteLog(1, "[UnregisterServer] UnregisterServer(%s) Failed", dest);
        return FALSE;
    }
    WriteLog(2, "[UnregisterServer] UnregisterServer(%s) Success", dest);
    if (BrowserVersion() >= 7) UnregisterPreApproved(file);
    if (BrowserVersion() >= 8) UnregisterAllowedDomains(file);
    return TRUE;
}

BOOL RegisterPreApproved(const CUpdateInfo& file)
{
    if (file.m_szClassId.empty()) return FALSE;
    LONG error = CreateKey(HKEY_LOCAL_MACHINE, std::string(kPreApproved) + "\\" + Braced(file));
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[RegisterPreApproved] regKey.Create(%s) Failed, Error Code = %d", file.m_szClassId.c_str(), error);
        return FALSE;
    }
    WriteLog(2, "[RegisterPreApproved] RegisterServer(%s) Success", file.m_szClassId.c_str());
    return TRUE;
}

BOOL UnregisterPreApproved(const CUpdateInfo& file)
{
    if (file.m_szClassId.empty()) return FALSE;
    CRegKey key;
    LONG error = key.Open(HKEY_LOCAL_MACHINE, kPreApproved, KEY_READ | KEY_WRITE);
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[UnregisterPreApproved] regKey.Open(%s) Failed, Error Code = %d", file.m_szClassId.c_str(), error);
        return FALSE;
    }
    error = key.DeleteSubKey(Braced(file).c_str());
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[UnregisterPreApproved] regKey.DeleteSubKey(%s) Failed, Error Code = %d", file.m_szClassId.c_str(),
                 error);
        return FALSE;
    }
    WriteLog(2, "[UnregisterPreApproved] UnregisterPreApproved(%s) Success", file.m_szClassId.c_str());
    return TRUE;
}

BOOL RegisterAllowedDomains(const CUpdateInfo& file)
{
    if (file.m_szClassId.empty()) return FALSE;
    std::string path = std::string(kStats) + "\\" + Braced(file) + "\\iexplore\\AllowedDomains\\" + ZELTO_PORTAL_DOMAIN;
    LONG error = CreateKey(HKEY_CURRENT_USER, path);
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[RegisterAllowedDomains] regKey.Create(%s) Failed, Error Code = %d", path.c_str(), error);
        return FALSE;
    }
    WriteLog(2, "[RegisterAllowedDomains] regKey.Create(%s) Success", path.c_str());
    return TRUE;
}

BOOL UnregisterAllowedDomains(const CUpdateInfo& file)
{
    if (file.m_szClassId.empty()) return FALSE;
    const std::string sub = Braced(file);
    CRegKey key;
    LONG error = key.Open(HKEY_CURRENT_USER, kStats, KEY_READ | KEY_WRITE);
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[UnregisterAllowedDomains] regKey.Open(HKEY_CURRENT_USER\\%s\\%s) Failed, Error Code = %d", kStats,
                 sub.c_str(), error);
        return FALSE;
    }
    error = key.RecurseDeleteKey(sub.c_str());
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[UnregisterAllowedDomains] regKey.DeleteSubKey(HKEY_CURRENT_USER\\%s\\%s) Failed, Error Code = %d",
                 kStats, sub.c_str(), error);
        return FALSE;
    }
    WriteLog(2, "[UnregisterAllowedDomains] regKey.DeleteSubKey(HKEY_CURRENT_USER\\%s\\%s) Success", kStats, sub.c_str());
    return TRUE;
}
