// What an item's installation changed, so that a failed item can be put back
// as it was before the run: the old files it replaced (kept as copies in a
// folder of the run's own beside the staged files), the files it created, the
// replacements it scheduled for the next start, and the item's record.
#pragma once

#include "catalogue/UpdateInfo.h"
#include "install/Placement.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CItemRollback {
public:
    // Reads the item's record (programKey\\itemName under HKEY_LOCAL_MACHINE)
    // as it is now, before the first change.
    CItemRollback(const char* programKey, const std::string& itemName);
    ~CItemRollback();   // removes the copies of old files
    CItemRollback(const CItemRollback&) = delete;
    CItemRollback& operator=(const CItemRollback&) = delete;

    // Where MoveInstallFiles keeps the old file of this entry.
    std::string KeepOldAs(const CUpdateInfo& file) const;
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
    // it again when the entry registers its file.
    void PutBackOldFile(const CUpdateInfo& file);
    // The item's record as it was; when the item brought the program's
    // entry, the entry goes.
    void RestoreRecord();

    // The folder of the run's own for the copies of replaced files.
    static std::string BackupFolder();

    struct RecordCopy;

private:
    std::string m_strProgramKey;
    std::string m_strItemKey;
    std::vector<Change> m_changes;
    bool m_bProgramKeyExisted = false;
    std::unique_ptr<RecordCopy> m_pRecord;   // null: the item had no record
};
