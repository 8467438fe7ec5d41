// The file operations the system carries out at its next start (the session
// manager's PendingFileRenameOperations: pairs of source and target, an
// empty target deleting the source), as this program reads and takes them
// back, so that the last decision on a path wins.
#pragma once

#include <functional>
#include <string>

// A new file that waits for the restart lies beside its destination under
// this suffix (not in the staging folder, which later runs empty).
constexpr const char* kRestartSuffix = ".zelto-restart";

// A pending operation with its paths bare (no "\??\" and no "!" prefix).
struct PendingOperation {
    std::string source;
    std::string target;   // "" deletes the source
};

// Removes the pending operations that drop says to; true when any went.
bool DropPendingOperations(const std::function<bool(const PendingOperation&)>& drop);

// Takes back every pending operation on path: its deletion, its move
// elsewhere, and anything that would move onto it (a new file waiting beside
// it under kRestartSuffix is deleted). Called before the path is placed,
// scheduled again or removed.
void TakeBackPendingOperations(const std::string& path);

// True when a pending operation's source lies in folder (a copy or a new
// file kept for the restart): the folder must outlive the run.
bool PendingSourceIn(const std::string& folder);
