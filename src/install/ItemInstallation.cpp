#include "install/ItemInstallation.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "base/Strings.h"
#include "catalogue/FileRegistration.h"
#include "catalogue/UpdateDecision.h"
#include "install/ItemRollback.h"
#include "install/Placement.h"
#include "install/ProgramCopy.h"
#include "install/RestartOperations.h"
#include "install/RunningPrograms.h"
#include "install/SignerCheck.h"
#include "install/Staging.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

#include "resource.h"

#include <ZeltoConfig.h>

#include <cstring>

namespace {

// The destination's base name without its extension: the file's record key.
std::string RecordName(const CUpdateInfo& file)
{
    const std::string& dest = file.m_szDestFileName;
    size_t slash = dest.find_last_of('\\');
    std::string base = dest.substr(slash == std::string::npos ? 0 : slash + 1);
    size_t dot = base.find_last_of('.');
    return dot == std::string::npos ? base : base.substr(0, dot);
}

}  // namespace

HKEY RootOfKeyText(const std::string& rootPart)
{
    struct Root { const char* name; HKEY key; };
    const Root roots[] = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                          {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
                          {"HKEY_USERS", HKEY_USERS}};
    // An empty root part would match the first name: refused.
    if (rootPart.empty()) return nullptr;
    for (const Root& root : roots)
        if (std::strncmp(root.name, rootPart.c_str(), rootPart.size()) == 0) return root.key;
    return nullptr;
}

BOOL InstallItem(CUpdateSet& item, int forceDelete, int& restartFlag, bool* atRestart)
{
    if (item.m_arrUpdateFile.empty()) return TRUE;
    CItemRollback rollback(UNINSTALL_KEY, item.m_strName);
    // A rolled back item that leaves nothing for the restart needs none.
    const int restartBefore = restartFlag;
    auto rollBack = [&]() {
        if (!RollBack(rollback)) restartFlag = restartBefore;
        return FALSE;
    };
    // Nothing of an item is placed, registered or started unless each of its
    // executable files carries a pinned publisher's signature.
    if (!CheckItemSigners(item)) return rollBack();
    BOOL ok = TRUE;
    for (auto& file : item.m_arrUpdateFile)
        if (!InstallProcess(*file, item.m_strName, forceDelete, item.m_bSelfUninstaller == 0, restartFlag, &rollback,
                            atRestart))
            ok = FALSE;
    if (!ok) return rollBack();
    for (auto& file : item.m_arrUpdateFile)
        if (!RegisterServer(*file)) ok = FALSE;
    if (!ok) return rollBack();
    return TRUE;
}

BOOL InstallProcess(const CUpdateInfo& file, const std::string& itemName, int forceDelete, BOOL record, int& restartFlag,
                    CItemRollback* rollback, bool* atRestart)
{
    if (!RunFileAndWait(file)) return FALSE;
    if (!file.m_szDeleteRegClass.empty()) {
        if (rollback) rollback->RemovingClass(file.m_szDeleteRegClass);   // journalled first
        CUtil::RemoveServerByClassId(file.m_szDeleteRegClass.c_str());
    }

    const std::string& keyText = file.m_szDeleteRegKey;
    size_t slash = keyText.find('\\');
    if (!keyText.empty() && slash != std::string::npos) {
        HKEY root = RootOfKeyText(keyText.substr(0, slash));
        std::string path = keyText.substr(slash + 1);
        // A key text without a path would name the whole root: refused.
        bool deleted = root && path.find_first_not_of('\\') != std::string::npos &&
                       DeleteKeyTree(root, path.c_str()) == ERROR_SUCCESS;
        if (!deleted) WriteLog(1, "[InstallProcess] DeleteRegKey Failed(%s)", keyText.c_str());
    }

    const std::string staged = UnpackedPath(file);
    WriteLog(2, "[InstallProcess] MoveInstalleFiles(%s ->%s)", staged.c_str(), file.m_szDestFileName.c_str());
    Placement placement = Placement::Nothing;
    if (rollback) rollback->Placing(file);
    BOOL placed = MoveInstallFiles(file, staged, forceDelete, restartFlag,
                                   rollback ? rollback->KeepOldAs(file) : std::string(), &placement,
                                   StagedBytesShared(file));
    DWORD error = ::GetLastError();
    if (rollback) rollback->Note(file, placement, staged);
    if (!placed) {
        WriteLog(1, "[InstallProcess] MoveInstalleFiles Failed, Error Code = %d", error);
        return FALSE;
    }
    if (atRestart && placement == Placement::AtRestart) *atRestart = true;
    StampFileTime(file, file.m_szDestFileName);
    if (record) RegistUninstaller(file, itemName);
    ExecuteDownloadedFile(file);
    return TRUE;
}

BOOL RegistUninstaller(const CUpdateInfo& file, const std::string& itemName)
{
    // The entry names the program's own copy in the program files folder,
    // never the file that was started (a user may replace that one).
    const std::string program = ProgramCopyPath();
    if (program.empty()) {
        WriteLog(1, "[RegistUninstaller] the program files folder is unknown: nothing recorded");
        return FALSE;
    }
    if (!EnsureProgramCopy()) WriteLog(1, "[RegistUninstaller] %s could not be made", program.c_str());
    HKEY hklm = HKEY_LOCAL_MACHINE;
    CUtil::SetProfileString(hklm, UNINSTALL_KEY, "DisplayName", LoadResString(IDS_DISPLAY_NAME).c_str());
    CUtil::SetProfileString(hklm, UNINSTALL_KEY, "DisplayIcon", program.c_str());
    CUtil::SetProfileString(hklm, UNINSTALL_KEY, "UninstallString", ("\"" + program + "\" -u").c_str());
    CUtil::SetProfileString(hklm, UNINSTALL_KEY, "DisplayVersion", GetCompanionVersion().c_str());
    CUtil::SetProfileString(hklm, UNINSTALL_KEY, "Publisher", "QRV Corp.");
    CUtil::SetProfileString(hklm, UNINSTALL_KEY, "URLInfoAbout", ZELTO_HOME_URL);

    const std::string itemKey = std::string(UNINSTALL_KEY) + "\\" + itemName;
    if (file.m_bMainFile == 1) CUtil::SetProfileString(hklm, itemKey.c_str(), nullptr, RecordName(file).c_str());
    const std::string fileKey = itemKey + "\\" + RecordName(file);
    // Whole or inert: a removal acts on a file's record only when it has a
    // FilePath, so that value goes first and comes back last, after the
    // values that say how to remove the file. A kill in between leaves a
    // record that names no file, never one that removes it the wrong way.
    CRegKey record;
    if (record.Open(hklm, fileKey.c_str()) == ERROR_SUCCESS) record.DeleteValue("FilePath");
    CUtil::SetProfileInteger(hklm, fileKey.c_str(), "Unregister", static_cast<DWORD>(file.m_bRegister));
    CUtil::SetProfileInteger(hklm, fileKey.c_str(), "SharedDll", static_cast<DWORD>(file.m_bSharedDll));
    if (!file.m_szClassId.empty()) CUtil::SetProfileString(hklm, fileKey.c_str(), "ClassID", file.m_szClassId.c_str());
    CUtil::SetProfileString(hklm, fileKey.c_str(), "FilePath", file.m_szDestFileName.c_str());
    if (record || record.Open(hklm, fileKey.c_str()) == ERROR_SUCCESS) ::RegFlushKey(record.get());
    return TRUE;
}

BOOL UninstallFile(const CUpdateInfo& file)
{
    const char* dest = file.m_szDestFileName.c_str();
    WriteLog(2, "[UninstallFile] DeleteFile(%s )", dest);
    if (file.m_bSharedDll) return TRUE;
    if (::GetFileAttributesA(dest) == INVALID_FILE_ATTRIBUTES) return TRUE;
    if (::DeleteFileA(dest)) return TRUE;
    WriteLog(1, "[UninstalllFile] DeleteFile(%s) Failed (ErrorCode = %d) ", dest, ::GetLastError());
    return FALSE;
}

void RecoverInterruptedItems()
{
    std::vector<std::string> items;
    {
        CRegKey journal;
        if (journal.Open(HKEY_LOCAL_MACHINE, kJournalKey, KEY_READ) == ERROR_SUCCESS) {
            char name[MAX_PATH];
            for (DWORD i = 0;; ++i) {
                DWORD size = sizeof(name);
                if (::RegEnumKeyExA(journal.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                items.emplace_back(name, size);
            }
        }
    }
    for (const std::string& item : items) {
        WriteLog(1, "[RecoverInterruptedItems] %s: a run ended while it was installing it; rolled back", item.c_str());
        std::unique_ptr<CItemRollback> rollback = CItemRollback::FromJournal(UNINSTALL_KEY, item);
        if (rollback) RollBack(*rollback);   // its end removes the copies and the journal entry
        else CItemRollback::ForgetEntry(std::string(kJournalKey) + "\\" + item);
    }
    CItemRollback::RemoveEmptyJournal();
    CItemRollback::RemoveLeftoverCopies();
}

bool RollBack(CItemRollback& rollback)
{
    bool pending = false;
    // Latest first, so that a file placed twice ends with its oldest copy.
    const auto& changes = rollback.Changes();
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
        const CUpdateInfo& file = *change->file;
        switch (change->placement) {
        case Placement::Created:   // only what this run created is deleted
            UnregisterServer(file);
            UninstallFile(file);
            break;
        case Placement::Replaced:
            UnregisterServer(file);
            pending = rollback.PutBackOldFile(file) || pending;
            break;
        case Placement::AtRestart:   // the old file is still in place
            TakeBackPendingOperations(file.m_szDestFileName);
            break;
        case Placement::Nothing:
            break;
        }
    }
    rollback.RestoreClasses();
    rollback.RestoreRecord();
    return pending;
}
