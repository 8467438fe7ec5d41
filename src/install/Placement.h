// Putting a staged file in its destination, replacing files in use at the
// next system start, and the privileged restart.
#pragma once

#include "catalogue/UpdateInfo.h"

#include <string>

// What MoveInstallFiles did with the destination.
// The name a new file has beside its destination until it is moved over it:
// "<destination>.zelto-new".
constexpr const char* kPlacingSuffix = ".zelto-new";

enum class Placement {
    Nothing,     // left as it was (failure, or the user cancelled the wait)
    Created,     // the file is new: there was none before
    Replaced,    // an existing file was replaced; its copy is at keepOldAs
    AtRestart,   // the replacement waits for the next system start
};

// FALSE only when the staged file cannot be read, the copy fails (the old
// file is then put back) or the destination cannot be deleted for a reason
// other than not found or in use. The destination is deleted only once the
// staged file is known readable and a copy of the old file is kept at
// keepOldAs (empty: a temporary copy beside the staged file, removed again).
// The staged file is moved into place where both share a volume (copied
// otherwise) and is gone afterwards; stagedShared: another file of the run is
// placed from it too, so it is copied and stays.
BOOL MoveInstallFiles(const CUpdateInfo& file, const std::string& stagedPath, int forceDelete, int& restartFlag,
                      const std::string& keepOldAs = std::string(), Placement* placement = nullptr,
                      bool stagedShared = false);

// Registers the replacement (or, with no destination, nothing but the move).
void ReplaceAtRestart(const std::string& staged, const char* destination);
// Takes back what ReplaceAtRestart registered for destination: the pending
// deletion of destination and the pending move of staged onto it (NT family).
void CancelReplaceAtRestart(const std::string& staged, const char* destination);
// Registers the deletion of path (or its move onto replacement) at restart.
BOOL RemoveAtRestart(const char* path, const char* replacement);
// Restarts the system with the shutdown privilege (NT family).
void RestartSystem();
