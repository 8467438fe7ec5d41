#include "uninstall/UninstallProcedure.h"

#include "base/Log.h"
#include "install/ItemInstallation.h"
#include "install/Placement.h"
#include "install/ProcessOperations.h"
#include "install/ProgramCopy.h"
#include "install/RestartOperations.h"
#include "install/Staging.h"
#include "sys/RegKey.h"
#include "sys/UserSettings.h"
#include "sys/Util.h"
#include "ui/MsgDialog.h"

#include <ZeltoConfig.h>

namespace {

const char kPreApproved[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved";
const char kStats[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats";
const char kCompanion[] = "ZeltoOmbrix.dll";

int BrowserVersion()
{
    return CUtil::Folders().nIEMajorVersion;
}

bool Present(const CUninstallFile& file)
{
    return !file.SharedDll && !file.FilePath.empty() && CUtil::IsFileExist(file.FilePath.c_str());
}

void RemoveFromCache(RemoveControlByNameFn removeControl, const std::string& path, const std::string& braced)
{
    if (removeControl) removeControl(path.c_str(), braced.c_str(), nullptr, TRUE, TRUE);
}

// Whether any program still holds a file of the item; asks the user to
// close the browser (browser 8 on), then closes the holders after consent.
BOOL InUseCheck(const UninstallFileList& files, HWND mainWnd, BYTE* agreement)
{
    if (BrowserVersion() >= 8) {
        int asks = 0;
        for (;;) {
            bool held = false;
            for (const auto& file : files) {
                if (!Present(*file)) continue;
                BYTE fresh = 0;
                if (!CloseProcessesUsingModulePath(file->FilePath.c_str(), 0, mainWnd, &fresh, 1)) { held = true; break; }
            }
            if (!held) break;
            // Only the user's OK goes on: a dialog that could not be shown
            // is no consent, and ten requests are the most.
            CMsgDialog dialog(mainWnd, 0, BrowserVersion());
            if (dialog.DoModal() != IDOK || ++asks > 10) return FALSE;
        }
    }
    for (const auto& file : files) {
        if (!Present(*file)) continue;
        if (!CloseProcessesUsingModulePath(file->FilePath.c_str(), 0, mainWnd, agreement, 0)) return FALSE;
    }
    return TRUE;
}

std::string ItemKey(const std::string& item)
{
    return std::string(UNINSTALL_KEY) + "\\" + item;
}

}  // namespace

BOOL ForceDelete(const char* path)
{
    if (::DeleteFileA(path)) return TRUE;
    DWORD error = ::GetLastError();
    return (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_FILE_NOT_FOUND) ? FALSE : TRUE;
}

BOOL UnregisterFiles(const UninstallFileList& files, RemoveControlByNameFn removeControl)
{
    for (const auto& file : files) {
        if (!Present(*file) || file->Unregister != 1) continue;
        const std::string braced = "{" + file->ClassID + "}";
        if (CUtil::UnregisterServer(file->FilePath.c_str())) {
            WriteLog(2, "[CDlgUninstall::UnregisterFiles] UnregisterServer(%s) Success.", file->FilePath.c_str());
            if (file->ClassID.empty()) continue;
            if (BrowserVersion() >= 7) {
                CRegKey key;
                LONG error = key.Open(HKEY_LOCAL_MACHINE, kPreApproved, ZELTO_KEY_WRITE);
                if (error != ERROR_SUCCESS) {
                    WriteLog(1, "[CDlgUninstall::UnregisterFiles] regKey.Open(%s) Failed, Error Code = %d", braced.c_str(), error);
                } else if ((error = key.DeleteSubKey(braced.c_str())) != ERROR_SUCCESS) {
                    WriteLog(1, "[CDlgUninstall::UnregisterFiles] regKey.DeleteSubKey(%s) Failed, Error Code = %d",
                             braced.c_str(), error);
                } else {
                    WriteLog(2, "[CDlgUninstall::UnregisterFiles] UnregisterPreApproved(%s) Success", braced.c_str());
                }
                if (BrowserVersion() >= 8) {
                    CRegKey stats;
                    error = stats.Open(HKEY_CURRENT_USER, kStats, ZELTO_KEY_WRITE);
                    if (error != ERROR_SUCCESS) {
                        WriteLog(1, "[CDlgUninstall::UnregisterFiles] regKey.Open(HKEY_CURRENT_USER\\%s\\%s) Failed, Error Code = %d",
                                 kStats, braced.c_str(), error);
                    } else if ((error = stats.RecurseDeleteKey(braced.c_str())) != ERROR_SUCCESS) {
                        WriteLog(1, "[CDlgUninstall::UnregisterFiles] regKey.DeleteSubKey(HKEY_CURRENT_USER\\%s\\%s) Failed, Error Code = %d",
                                 kStats, braced.c_str(), error);
                    } else {
                        WriteLog(2, "[CDlgUninstall::UnregisterFiles] regKey.DeleteSubKey(HKEY_CURRENT_USER\\%s\\%s) Success",
                                 kStats, braced.c_str());
                    }
                }
            }
            RemoveFromCache(removeControl, file->FilePath, braced);
        } else {
            WriteLog(1, "[CDlgUninstall::UnregisterFiles] UnregisterServer(%s) Failed.", file->FilePath.c_str());
            if (!file->ClassID.empty()) RemoveFromCache(removeControl, file->FilePath, braced);
        }
    }
    return TRUE;
}

BOOL UninstallFiles(UninstallFileList& files, bool* atRestart)
{
    for (auto& file : files) {
        // A replacement an install left for the restart would bring the
        // file back: the removal is the last decision.
        if (file) TakeBackPendingOperations(file->FilePath);
        if (file && Present(*file)) {
            bool done = false;
            for (int attempt = 0; attempt < 5 && !done; ++attempt) {
                done = ForceDelete(file->FilePath.c_str()) != 0;
                if (!done && attempt < 4) ::Sleep(500);
            }
            if (!done && atRestart && RemoveAtRestart(file->FilePath.c_str(), nullptr)) {
                WriteLog(1, "[CDlgUninstall::UninstallFiles] %s is in use: removed at the next restart",
                         file->FilePath.c_str());
                *atRestart = true;
                done = true;
            }
            if (!done) {
                WriteLog(1, "[CDlgUninstall::UninstallFiles] ForceDelete(%s) Failed.", file->FilePath.c_str());
                files.clear();
                return FALSE;
            }
            WriteLog(2, "[CDlgUninstall::UninstallFiles] ForceDelete(%s) Success.", file->FilePath.c_str());
        }
        file.reset();
    }
    files.clear();
    return TRUE;
}

std::string CompanionLibraryPath()
{
    std::string library;
    {
        CRegKey key;
        std::string path = std::string("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\") +
                           ZELTO_COMPANION_CLSID + "\\Contains\\Files";
        if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), ZELTO_KEY_WRITE) == ERROR_SUCCESS) {
            for (DWORD index = 0;; ++index) {
                char name[MAX_PATH];
                DWORD length = sizeof(name);
                if (::RegEnumValueA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                    WriteLog(2, "RegEnumValue can't find");
                    break;
                }
                std::string full(name);
                size_t slash = full.find_last_of('\\');
                if (full.substr(slash == std::string::npos ? 0 : slash + 1) == kCompanion) { library = full; break; }
            }
        }
    }
    return library;
}

void RemoveCompanion(RemoveControlByNameFn removeControl, bool keepEntry)
{
    const std::string library = CompanionLibraryPath();
    const std::string inf = std::string(CUtil::Folders().szDownloaded) + "\\ZeltoOmbrix.inf";
    if (!library.empty()) {
        RemoveFromCache(removeControl, library, ZELTO_COMPANION_CLSID);
        CUtil::UnregisterServer(library.c_str());
    } else {
        WriteLog(2, "realDllFilePath is NULL");
    }
    {
        CRegKey clsid;
        if (clsid.Open(HKEY_LOCAL_MACHINE, (std::string("SOFTWARE\\Classes\\CLSID\\") + ZELTO_COMPANION_CLSID).c_str(),
                       ZELTO_KEY_WRITE) == ERROR_SUCCESS) {
            if (!library.empty() && CUtil::IsFileExist(library.c_str())) {
                zelto::ScopedModule module(::LoadLibraryA(library.c_str()));
                if (!module) {
                    WriteLog(2, "ZeltoOmbrix.dll hMod == NULL");
                } else if (auto unregister = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                               reinterpret_cast<void*>(::GetProcAddress(module.get(), "DllUnregisterServer")))) {
                    unregister();
                }
            } else {
                WriteLog(2, "CUtil::IsFileExist( szDllFile ) == FLASE");
            }
        }
    }
    // When an item could not be removed its record and the uninstall entry
    // stay, and so does the program, so that the removal can be finished.
    if (!keepEntry) {
        CRegKey uninstall;
        if (uninstall.Open(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                           ZELTO_KEY_WRITE) == ERROR_SUCCESS)
            uninstall.RecurseDeleteKey("ZeltoSetup");
        RemoveProgramCopy();
    }
    if (!library.empty()) RemoveAtRestart(library.c_str(), nullptr);
    RemoveAtRestart(inf.c_str(), nullptr);
    SetNoShowIfUpdate(0);
    WriteLog(2, "All Item was uninstalled!");
}

DWORD RunUninstall(UninstallRequest& request)
{
    BYTE agreement = 0;
    if (request.allSelected && !request.quiet) {
        // The wait compares full paths: the library's path when it is known.
        const std::string library = CompanionLibraryPath();
        if (WaitUntilFileReleased(library.empty() ? kCompanion : library.c_str(), 0, request.mainWnd) != 1) return 0;
        if (!CloseProcessesUsingModuleName(kCompanion, 0, request.mainWnd, &agreement, 0,
                                           library.empty() ? nullptr : library.c_str()))
            return 0;
    }
    for (const std::string& item : request.items) {
        if (request.quiet) break;   // nobody to ask, no program is ended
        UninstallFileList files;
        if (!GetFileList(ItemKey(item), files)) continue;
        if (!InUseCheck(files, request.mainWnd, &agreement)) return 0;
    }
    bool stopped = false;
    for (const std::string& item : request.items) {
        WriteLog(2, "Start Uninstall (%s)", item.c_str());
        UninstallFileList files;
        if (!GetFileList(ItemKey(item), files) || !UnregisterFiles(files, request.removeControl) ||
            !UninstallFiles(files, request.quiet ? &request.restartNeeded : nullptr)) {
            stopped = true;
            break;
        }
        CRegKey root;
        if (root.Open(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, ZELTO_KEY_WRITE) == ERROR_SUCCESS)
            root.RecurseDeleteKey(item.c_str());
        WriteLog(2, "Success Uninstall (%s)", item.c_str());
    }
    if (request.allSelected) RemoveCompanion(request.removeControl, stopped);
    // Nothing of the program is left but what the restart still needs.
    if (request.allSelected && !stopped) EmptyStagingFolder();
    // An item that could not be removed is not reported as a finished removal.
    return stopped ? 0 : 1;
}
