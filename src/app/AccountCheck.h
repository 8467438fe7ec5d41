// Which accounts may run the program.
#pragma once

#include <windows.h>

// 1 when the process token's groups hold the local Administrators or Power
// Users alias (whatever the group's attributes). 0 when the token or its group
// list (read into 1,024 bytes) cannot be had.
BOOL TokenHasAdminOrPowerUsers();
// The group test itself, on a token's group list.
BOOL GroupsHoldAdminOrPowerUsers(const TOKEN_GROUPS& groups);

// The run is allowed on a non-NT platform, for an administrator or power
// user, or on NT 6 and later; the token is asked only when it matters.
BOOL IsAccountAllowed(DWORD platformId, DWORD majorVersion, BOOL (*tokenCheck)());

// IsAccountAllowed, telling a refused user why (message "IDS_NOT_ADMIN").
BOOL AccountMayRun(DWORD platformId, DWORD majorVersion, BOOL (*tokenCheck)());
BOOL AccountMayRun();
