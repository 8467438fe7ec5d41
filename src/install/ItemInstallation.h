// Installing a catalogue item file by file, registering it, recording it
// for uninstall, and rolling it back when a step fails.
#pragma once

#include "catalogue/ItemPresence.h"
#include "catalogue/UpdateSet.h"

#include <string>

class CItemRollback;

// The program's uninstall entry under HKEY_LOCAL_MACHINE.
constexpr const char* UNINSTALL_KEY = kItemRecordsKey;

// atRestart (may be null): set when a file of the installed item is placed
// at the next restart.
BOOL InstallItem(CUpdateSet& item, int forceDelete, int& restartFlag, bool* atRestart = nullptr);
// rollback (may be null) learns what the placement did; atRestart (may be
// null) is set when the file is placed at the next restart.
BOOL InstallProcess(const CUpdateInfo& file, const std::string& itemName, int forceDelete, BOOL record, int& restartFlag,
                    CItemRollback* rollback = nullptr, bool* atRestart = nullptr);
BOOL RegistUninstaller(const CUpdateInfo& file, const std::string& itemName);
BOOL UninstallFile(const CUpdateInfo& file);
// Puts the item back as it was before the run (see CItemRollback); true when
// something of it waits for the next restart (an old file put back then).
bool RollBack(CItemRollback& rollback);
// At start, with the run claimed: every item a killed run left in the journal
// is rolled back from its copies, as a failed item is, and the copy folders
// of runs that ended are removed.
void RecoverInterruptedItems();
// The root named before the first "\" of a key text (prefix rule), or null.
HKEY RootOfKeyText(const std::string& rootPart);
