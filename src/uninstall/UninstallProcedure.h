// Removing the chosen installed items: the in-use checks, unregistration
// with the browser's permission keys and control cache, file deletion,
// records, and (when every item was chosen) the companion control, the
// uninstall entry and the program itself.
#pragma once

#include "uninstall/ItemRecords.h"

#include <string>
#include <vector>

// The browser control cache's "RemoveControlByName": file path, class
// identifier in braces, type library (none), force, distribution unit.
using RemoveControlByNameFn = HRESULT(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, BOOL, BOOL);

struct UninstallRequest {
    RemoveControlByNameFn removeControl = nullptr;   // null: cache removal is skipped
    HWND mainWnd = nullptr;                          // disabled while a dialog is up
    BYTE allSelected = 0;
    std::vector<std::string> items;
    // A quiet removal asks nobody and ends no program: a file that is held
    // is removed at the next restart, and restartNeeded says so afterwards.
    bool quiet = false;
    bool restartNeeded = false;
};

// The worker: 1 when every chosen item was removed; 0 when the user declined
// or a pre-check failed (nothing removed), or when an item could not be
// removed (the items before it are gone, it and the later ones stay).
DWORD RunUninstall(UninstallRequest& request);

BOOL UnregisterFiles(const UninstallFileList& files, RemoveControlByNameFn removeControl);
// Deletes the files; one that cannot be deleted stops the item (FALSE), or,
// with atRestart, is scheduled for deletion at the next restart (*atRestart
// set to true).
BOOL UninstallFiles(UninstallFileList& files, bool* atRestart = nullptr);
BOOL ForceDelete(const char* path);
// Removes the companion control; unless keepEntry, also the whole uninstall
// entry, and schedules the program's own deletion.
void RemoveCompanion(RemoveControlByNameFn removeControl, bool keepEntry = false);
// The companion library's path as the downloaded-code store lists it, or "".
std::string CompanionLibraryPath();
