#include "install/ItemRollback.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "catalogue/FileRegistration.h"
#include "install/Placement.h"
#include "install/RestartOperations.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

// A registry key with its values and sub-keys, read in full.
struct CItemRollback::RecordCopy {
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::vector<Value> values;
    std::vector<std::pair<std::string, RecordCopy>> keys;

    // False when the key cannot be opened.
    bool Read(HKEY root, const std::string& path)
    {
        CRegKey key;
        if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
        for (DWORD i = 0;; ++i) {
            char name[16384];
            DWORD nameSize = sizeof(name), type = 0, size = 0;
            if (::RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
            Value value{std::string(name, nameSize), type, std::vector<BYTE>(size)};
            nameSize = sizeof(name);
            if (::RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, value.data.data(), &size) ==
                ERROR_SUCCESS) {
                value.data.resize(size);
                values.push_back(std::move(value));
            }
        }
        for (DWORD i = 0;; ++i) {
            char name[MAX_PATH];
            DWORD nameSize = sizeof(name);
            if (::RegEnumKeyExA(key.get(), i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            RecordCopy sub;
            if (sub.Read(key.get(), name)) keys.emplace_back(name, std::move(sub));
        }
        return true;
    }

    // Writes the copy over what the key holds now, without first deleting
    // it: values and sub-keys the copy lacks go, a file record's FilePath
    // goes first and comes back last (see RegistUninstaller), so that a kill
    // at any moment leaves records that are whole or name no file.
    void Write(HKEY root, const std::string& path) const
    {
        CRegKey key;
        if (key.Create(root, path.c_str()) != ERROR_SUCCESS) {
            WriteLog(1, "[RollBack] regKey.Create(%s) Failed", path.c_str());
            return;
        }
        key.DeleteValue("FilePath");
        RecordCopy now;
        now.Read(root, path);
        for (const Value& value : now.values)
            if (!Has(value.name)) key.DeleteValue(value.name.empty() ? nullptr : value.name.c_str());
        for (const auto& sub : now.keys)
            if (!HasKey(sub.first)) key.RecurseDeleteKey(sub.first.c_str());
        const Value* filePath = nullptr;
        for (const Value& value : values) {
            if (value.name == "FilePath") {
                filePath = &value;
                continue;
            }
            Set(key.get(), value);
        }
        for (const auto& sub : keys) sub.second.Write(key.get(), sub.first);
        if (filePath) Set(key.get(), *filePath);
        ::RegFlushKey(key.get());
    }

    bool Has(const std::string& name) const
    {
        for (const Value& value : values)
            if (lstrcmpiA(value.name.c_str(), name.c_str()) == 0) return true;
        return false;
    }
    bool HasKey(const std::string& name) const
    {
        for (const auto& sub : keys)
            if (lstrcmpiA(sub.first.c_str(), name.c_str()) == 0) return true;
        return false;
    }
    static void Set(HKEY key, const Value& value)
    {
        ::RegSetValueExA(key, value.name.empty() ? nullptr : value.name.c_str(), 0, value.type,
                         value.data.empty() ? nullptr : value.data.data(), static_cast<DWORD>(value.data.size()));
    }
};

namespace {

void Flush(const std::string& path)
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ) == ERROR_SUCCESS) ::RegFlushKey(key.get());
}

// Deletes the files in folder, then the folder (copies are made writable first).
void RemoveCopies(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    zelto::ScopedFind find(::FindFirstFileA((folder + "\\*").c_str(), &found));
    if (find.valid()) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const std::string path = folder + "\\" + found.cFileName;
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(find.get(), &found));
    }
    find.reset();
    ::RemoveDirectoryA(folder.c_str());
}

}  // namespace

std::string CItemRollback::BackupFolder()
{
    return CUtil::GetStagingFolder() + "\\" + kCopiesPrefix + std::to_string(::GetCurrentProcessId());
}

std::string CItemRollback::JournalPath() const
{
    return std::string(kJournalKey) + "\\" + m_strItemName;
}

CItemRollback::CItemRollback(const char* programKey, const std::string& itemName)
    : m_strProgramKey(programKey), m_strItemKey(m_strProgramKey + "\\" + itemName), m_strItemName(itemName),
      m_strCopies(BackupFolder())
{
    CRegKey program;
    m_bProgramKeyExisted = program.Open(HKEY_LOCAL_MACHINE, programKey, KEY_READ) == ERROR_SUCCESS;
    auto record = std::make_unique<RecordCopy>();
    if (m_bProgramKeyExisted && record->Read(HKEY_LOCAL_MACHINE, m_strItemKey)) m_pRecord = std::move(record);
    CUtil::CreateRecursiveDirectory(m_strCopies.c_str());

    // The journal, before the item's first change. "Copies" is written last
    // and flushed: an entry without it is no entry (a run killed while
    // writing it changed nothing yet), so that recovery never acts on one
    // read with defaults for what was not written.
    const std::string journal = JournalPath();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, journal.c_str());
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, journal.c_str(), "ProgramKeyExisted", m_bProgramKeyExisted ? 1 : 0);
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, journal.c_str(), "HadRecord", m_pRecord ? 1 : 0);
    if (m_pRecord) m_pRecord->Write(HKEY_LOCAL_MACHINE, journal + "\\Record");
    Flush(journal);
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, journal.c_str(), "Copies", m_strCopies.c_str());
    Flush(journal);
}

std::unique_ptr<CItemRollback> CItemRollback::FromJournal(const char* programKey, const std::string& itemName)
{
    std::unique_ptr<CItemRollback> rollback(new CItemRollback());
    rollback->m_strProgramKey = programKey;
    rollback->m_strItemKey = rollback->m_strProgramKey + "\\" + itemName;
    rollback->m_strItemName = itemName;
    const std::string journal = rollback->JournalPath();
    rollback->m_strCopies = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, journal.c_str(), "Copies", "");
    if (rollback->m_strCopies.empty()) return nullptr;
    rollback->m_bProgramKeyExisted = CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, journal.c_str(), "ProgramKeyExisted", 1) != 0;
    if (CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, journal.c_str(), "HadRecord", 0)) {
        auto record = std::make_unique<RecordCopy>();
        if (record->Read(HKEY_LOCAL_MACHINE, journal + "\\Record")) rollback->m_pRecord = std::move(record);
    }
    for (int index = 0;; ++index) {
        const std::string entry = journal + "\\Classes\\" + std::to_string(index);
        const std::string copy = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Copy", "");
        if (copy.empty()) break;
        rollback->m_classes.push_back({CUtil::GetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Path", ""), copy});
    }
    // The entry being placed when the run ended: its new bytes beside it go.
    const std::string placing = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, journal.c_str(), "Placing", "");
    if (!placing.empty()) ::DeleteFileA((placing + kPlacingSuffix).c_str());
    for (int index = 0;; ++index) {
        const std::string entry = journal + "\\Files\\" + std::to_string(index);
        const std::string dest = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Dest", "");
        if (dest.empty()) break;
        auto file = std::make_unique<CUpdateInfo>();
        file->m_szDestFileName = dest;
        file->m_szName = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Name", "");
        file->m_szClassId = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "ClassId", "");
        file->m_bRegister = static_cast<int>(CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "Register", 0));
        file->m_bSharedDll = static_cast<int>(CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "SharedDll", 0));
        const DWORD noted = CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "Placement", 0);
        auto placement = static_cast<Placement>(noted);
        const std::string staged = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Staged", "");
        if (noted == kPlacingMaybe) {
            // The run ended while this file was being placed: whatever it
            // left for the restart goes; a copy of the old file means the
            // old file may be gone (it goes back: the same bytes when the
            // move had not happened); without one, a file that did not exist
            // before and does now was created.
            TakeBackPendingOperations(dest);
            const bool existed = CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "Existed", 1) != 0;
            const std::string copy = rollback->m_strCopies + "\\" + file->m_szName;
            if (::GetFileAttributesA(copy.c_str()) != INVALID_FILE_ATTRIBUTES) placement = Placement::Replaced;
            else if (!existed && ::GetFileAttributesA(dest.c_str()) != INVALID_FILE_ATTRIBUTES) placement = Placement::Created;
            else placement = Placement::Nothing;
        }
        rollback->m_changes.push_back({file.get(), placement, staged});
        rollback->m_journalled.push_back(std::move(file));
    }
    return rollback;
}

CItemRollback::~CItemRollback()
{
    // Installed or rolled back: the entry goes first, then the copies (a
    // kill in between leaves copies for the next run's sweep, never an
    // entry whose copies are gone). The value that makes the entry count
    // goes before the rest of it: a run killed while the entry's keys are
    // deleted one by one leaves no entry, never one whose record or files
    // are cut short.
    ForgetEntry(JournalPath());
    RemoveEmptyJournal();
    for (const Change& change : m_changes) {
        if (change.placement != Placement::Replaced) continue;
        const std::string old = KeepOldAs(*change.file);
        ::SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(old.c_str());
    }
    for (const RemovedClass& removed : m_classes) ::DeleteFileA(removed.copy.c_str());
    ::RemoveDirectoryA(m_strCopies.c_str());
}

void CItemRollback::ForgetEntry(const std::string& entry)
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, entry.c_str(), ZELTO_KEY_WRITE) == ERROR_SUCCESS) {
        key.DeleteValue("Copies");
        ::RegFlushKey(key.get());
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, entry.c_str());
}

void CItemRollback::RemoveEmptyJournal()
{
    // Fails while another item's entry is in it: the journal goes with the last.
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kJournalKey);
}

void CItemRollback::RemoveLeftoverCopies()
{
    const std::string staging = CUtil::GetStagingFolder();
    if (staging.empty()) return;   // no program files folder: nothing of ours anywhere
    const std::string mine = BackupFolder();
    WIN32_FIND_DATAA found;
    zelto::ScopedFind find(::FindFirstFileA((staging + "\\" + kCopiesPrefix + "*").c_str(), &found));
    if (!find.valid()) return;
    std::vector<std::string> folders;
    do {
        const std::string folder = staging + "\\" + found.cFileName;
        // A link planted there is never followed into.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            lstrcmpiA(folder.c_str(), mine.c_str()) != 0) {
            // A copy that puts an old file back at the restart stays until
            // the restart has used it.
            if (PendingSourceIn(folder)) WriteLog(1, "[RemoveLeftoverCopies] %s: kept for the restart", folder.c_str());
            else folders.push_back(folder);
        }
    } while (::FindNextFileA(find.get(), &found));
    find.reset();
    for (const std::string& folder : folders) {
        WriteLog(1, "[RemoveLeftoverCopies] %s: left by a run that ended; removed", folder.c_str());
        RemoveCopies(folder);
    }
}

std::string CItemRollback::KeepOldAs(const CUpdateInfo& file) const
{
    return m_strCopies + "\\" + file.m_szName;
}

void CItemRollback::Placing(const CUpdateInfo& file)
{
    const std::string journal = JournalPath();
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, journal.c_str(), "Placing", file.m_szDestFileName.c_str());
    // The file's entry before it moves, as placed "maybe": a run killed
    // between the move and its note leaves it journalled all the same.
    const bool existed = ::GetFileAttributesA(file.m_szDestFileName.c_str()) != INVALID_FILE_ATTRIBUTES;
    WriteEntry(file, kPlacingMaybe, std::string(), existed);
    Flush(journal);
}

void CItemRollback::Note(const CUpdateInfo& file, Placement placement, const std::string& staged)
{
    if (placement == Placement::Nothing) {
        // Not moved after all: the entry written before the move goes.
        DeleteKeyTree(HKEY_LOCAL_MACHINE, (JournalPath() + "\\Files\\" + std::to_string(m_changes.size())).c_str());
        return;
    }
    // The entry written before the move stays as it is but for its
    // placement, written last and alone: a run killed while the note is
    // written leaves the entry "maybe" placed, judged at recovery, never one
    // whose values belong half to the note.
    const std::string entry = JournalPath() + "\\Files\\" + std::to_string(m_changes.size());
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Staged", staged.c_str());
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "Placement", static_cast<DWORD>(placement));
    m_changes.push_back({&file, placement, staged});
    Flush(JournalPath());
}

void CItemRollback::WriteEntry(const CUpdateInfo& file, DWORD placement, const std::string& staged, bool existed)
{
    const std::string entry = JournalPath() + "\\Files\\" + std::to_string(m_changes.size());
    // Dest last: an entry is read only when it has one.
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "Existed", existed ? 1 : 0);
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Name", file.m_szName.c_str());
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "ClassId", file.m_szClassId.c_str());
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "Register", static_cast<DWORD>(file.m_bRegister));
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "SharedDll", static_cast<DWORD>(file.m_bSharedDll));
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, entry.c_str(), "Placement", placement);
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Staged", staged.c_str());
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Dest", file.m_szDestFileName.c_str());
}

bool CItemRollback::PutBackOldFile(const CUpdateInfo& file)
{
    const char* dest = file.m_szDestFileName.c_str();
    const std::string old = KeepOldAs(file);
    // CopyFile keeps the old file's time stamp and attributes.
    if (!::CopyFileA(old.c_str(), dest, FALSE)) {
        WriteLog(1, "[RollBack] CopyFile(%s -> %s) Failed, Error Code = %d; replaced at restart", old.c_str(), dest,
                 ::GetLastError());
        // The copy must outlive the run for the replacement at the next start.
        const std::string kept = old + ".restart";
        if (!::MoveFileExA(old.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
        ReplaceAtRestart(kept, dest);
        return true;
    }
    WriteLog(2, "[RollBack] %s put back", dest);
    if (!file.m_bRegister) return false;
    if (CUtil::RegisterServer(dest)) RegisterPermissionKeys(file);
    else WriteLog(1, "[RollBack] RegisterServer(%s) Failed", dest);
    return false;
}

void CItemRollback::RemovingClass(const std::string& classId)
{
    char path[MAX_PATH] = {};
    if (!CUtil::GetInprocServerPath(classId.c_str(), path, sizeof(path)) ||
        ::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return;
    const std::string copy = m_strCopies + "\\class-" + std::to_string(m_classes.size());
    if (!::CopyFileA(path, copy.c_str(), FALSE)) {
        WriteLog(1, "[RollBack] CopyFile(%s -> %s) Failed, Error Code = %d", path, copy.c_str(), ::GetLastError());
        return;
    }
    const std::string entry = JournalPath() + "\\Classes\\" + std::to_string(m_classes.size());
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Path", path);
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, entry.c_str(), "Copy", copy.c_str());   // last: the entry counts
    Flush(JournalPath());
    m_classes.push_back({path, copy});
}

void CItemRollback::RestoreClasses()
{
    for (auto removed = m_classes.rbegin(); removed != m_classes.rend(); ++removed) {
        if (::GetFileAttributesA(removed->path.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !::CopyFileA(removed->copy.c_str(), removed->path.c_str(), TRUE)) {
            WriteLog(1, "[RollBack] CopyFile(%s -> %s) Failed, Error Code = %d", removed->copy.c_str(),
                     removed->path.c_str(), ::GetLastError());
            continue;
        }
        if (!CUtil::RegisterServer(removed->path.c_str()))
            WriteLog(1, "[RollBack] RegisterServer(%s) Failed", removed->path.c_str());
        else
            WriteLog(2, "[RollBack] %s put back for its class", removed->path.c_str());
    }
}

void CItemRollback::RestoreRecord()
{
    if (!m_bProgramKeyExisted) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, m_strProgramKey.c_str());
        return;
    }
    // The old record is written over the new one, never after deleting it.
    if (m_pRecord) m_pRecord->Write(HKEY_LOCAL_MACHINE, m_strItemKey);
    else DeleteKeyTree(HKEY_LOCAL_MACHINE, m_strItemKey.c_str());
}
