// Putting a staged file in its destination, replacing files in use at the
// next system start, and the privileged restart.
#pragma once

#include "catalogue/UpdateInfo.h"

#include <string>

// FALSE only when the copy fails or the destination cannot be deleted for a
// reason other than not found or in use.
BOOL MoveInstallFiles(const CUpdateInfo& file, const std::string& stagedPath, int forceDelete, int& restartFlag);

// Registers the replacement (or, with no destination, nothing but the move).
void ReplaceAtRestart(const std::string& staged, const char* destination);
// Registers the deletion of path (or its move onto replacement) at restart.
BOOL RemoveAtRestart(const char* path, const char* replacement);
// Restarts the system with the shutdown privilege (NT family).
void RestartSystem();
