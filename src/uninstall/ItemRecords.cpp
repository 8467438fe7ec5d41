#include "uninstall/ItemRecords.h"

#include "base/Log.h"
#include "install/ItemInstallation.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

bool ListRecordedItems(std::vector<std::string>& names)
{
    CRegKey root;
    const LONG error = root.Open(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, KEY_ENUMERATE_SUB_KEYS);
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[OnDialogStart] RegOpenKeyEx Failed, Error Code = %d", static_cast<int>(error));
        return false;
    }
    for (DWORD index = 0;; ++index) {
        char name[MAX_PATH];
        if (::RegEnumKeyA(root.get(), index, name, sizeof(name)) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    return true;
}

BOOL GetFileList(const std::string& itemKeyPath, UninstallFileList& files)
{
    CRegKey item;
    if (item.Open(HKEY_LOCAL_MACHINE, itemKeyPath.c_str(), ZELTO_KEY_WRITE) != ERROR_SUCCESS) {
        WriteLog(1, "[CDlgUninstall::GetFileList] regKey.Open(%s) Failed", itemKeyPath.c_str());
        return FALSE;
    }
    DWORD count = 0;
    ::RegQueryInfoKeyA(item.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr);
    for (DWORD index = 0; index < count; ++index) {
        char name[MAX_PATH] = "";
        DWORD length = sizeof(name);
        LONG error = ::RegEnumKeyExA(item.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS) {
            WriteLog(1, "[CDlgUninstall::GetFileList] RegEnumKeyEx(%s) Failed. Error Code = %d", name, error);
            continue;
        }
        const std::string key = itemKeyPath + "\\" + name;
        auto file = std::make_unique<CUninstallFile>();
        file->FilePath = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, key.c_str(), "FilePath", "");
        file->Unregister = static_cast<int>(CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, key.c_str(), "Unregister", 0));
        file->SharedDll = static_cast<int>(CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, key.c_str(), "SharedDll", 0));
        file->ClassID = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, key.c_str(), "ClassID", "");
        WriteLog(2, "[CDlgUninstall::GetFileList] File : %s, %d, %d, %s", file->FilePath.c_str(), file->Unregister,
                 file->SharedDll, file->ClassID.c_str());
        files.push_back(std::move(file));
    }
    return TRUE;
}
