// Which Windows the program runs on.
#pragma once

#include <windows.h>

// The platform identifier (1 = Windows 9x family, 2 = NT family) and the
// major version; false when the system does not say.
bool GetVersionFacts(DWORD& platformId, DWORD& majorVersion);

// 1 when the platform is of the NT family (id 2) with major version above 5.
BOOL IsVistaOrLater();
BOOL IsVistaOrLater(DWORD platformId, DWORD majorVersion);
