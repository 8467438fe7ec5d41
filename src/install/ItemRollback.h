// What an item's installation changed, so that a failed item can be put back
// as it was before the run: the old files it replaced (kept as copies in a
// folder of the run's own beside the staged files), the files it created, the
// replacements it scheduled for the next start, and the item's record.
//
// All of it is also kept in a journal in the registry (under kJournalKey, one
// key per item, flushed at every step) from before the item's first change
// until it has installed or rolled back, so that a run killed in between (a
// power cut, the task manager) is rolled back by the next run.
#pragma once

#include "catalogue/UpdateInfo.h"
#include "install/Placement.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// The copies of a run's replaced files: "<staging>\\ZeltoSetup.old.<pid>".
constexpr const char* kCopiesPrefix = "ZeltoSetup.old.";
// Where the journal lives, below HKEY_LOCAL_MACHINE.
constexpr const char* kJournalKey = "Software\\QRV Corporation\\ZeltoSetup\\Journal";

class CItemRollback {
public:
    // Reads the item's record (programKey\\itemName under HKEY_LOCAL_MACHINE)
    // as it is now, before the first change, and opens its journal entry.
    CItemRollback(const char* programKey, const std::string& itemName);
    // The roll back a killed run left in the journal for itemName; null when
    // the entry cannot be read.
    static std::unique_ptr<CItemRollback> FromJournal(const char* programKey, const std::string& itemName);
    ~CItemRollback();   // removes the copies of old files and the journal entry
    CItemRollback(const CItemRollback&) = delete;
    CItemRollback& operator=(const CItemRollback&) = delete;

    // Where MoveInstallFiles keeps the old file of this entry.
    std::string KeepOldAs(const CUpdateInfo& file) const;
    // The entry is about to be placed: journalled as placed "maybe" before
    // it moves (a killed run leaves at most its "<destination>.zelto-new"
    // behind, which the roll back removes, and a file whose note was not
    // written yet, which recovery judges by the copy of the old file).
    void Placing(const CUpdateInfo& file);
    // What the placement of this entry did (staged: its staged path).
    void Note(const CUpdateInfo& file, Placement placement, const std::string& staged);
    struct Change {
        const CUpdateInfo* file;
        Placement placement;
        std::string staged;
    };
    // The placements of the item's files in the order they happened.
    const std::vector<Change>& Changes() const { return m_changes; }

    // Puts a replaced file's old version back byte for byte with its time
    // stamp (at the next start when the destination is held) and registers
    // it again when the entry registers its file; true when it waits for the
    // restart (the copy kept until then).
    bool PutBackOldFile(const CUpdateInfo& file);
    // The item's record as it was; when the item brought the program's
    // entry, the entry goes.
    void RestoreRecord();
    // A DELETEREGCLASS is about to unregister and delete the file serving
    // classId: a copy of it is kept and journalled first.
    void RemovingClass(const std::string& classId);
    // The files DELETEREGCLASS removed, back in place and registered.
    void RestoreClasses();

    // The folder of the run's own for the copies of replaced files.
    static std::string BackupFolder();
    // Deletes a journal entry (entry: its key below HKEY_LOCAL_MACHINE),
    // the value that makes it count first.
    static void ForgetEntry(const std::string& entry);
    // Removes the journal's key when no entry is left in it.
    static void RemoveEmptyJournal();
    // Removes the copy folders that runs no longer running left behind.
    static void RemoveLeftoverCopies();

    struct RecordCopy;

private:
    CItemRollback() = default;
    std::string JournalPath() const;
    // The journal's entry of the next change ("Dest" written last).
    void WriteEntry(const CUpdateInfo& file, DWORD placement, const std::string& staged, bool existed);
    // A placement journalled before the move, not noted after it yet.
    static constexpr DWORD kPlacingMaybe = 99;

    std::string m_strProgramKey;
    std::string m_strItemKey;
    std::string m_strItemName;
    std::string m_strCopies;                               // where the old files' copies are
    std::vector<std::unique_ptr<CUpdateInfo>> m_journalled;   // the entries of a killed run's journal
    std::vector<Change> m_changes;
    struct RemovedClass {
        std::string path;   // the file that served the class
        std::string copy;   // its copy in the copies folder
    };
    std::vector<RemovedClass> m_classes;
    bool m_bProgramKeyExisted = false;
    std::unique_ptr<RecordCopy> m_pRecord;   // null: the item had no record
};
