// Registering a placed component file as a COM server, with the browser's
// pre-approval (browser 7 and later) and allowed-domain (8 and later) keys,
// and the mirror for removal.
#pragma once

#include "catalogue/UpdateInfo.h"

// With deleteOnFailure, a file whose registration fails is deleted (a file
// just placed); without, it stays (a present file, before anyone agreed).
BOOL RegisterServer(const CUpdateInfo& file, bool deleteOnFailure = true);
BOOL UnregisterServer(const CUpdateInfo& file);
// The browser's permission keys of a registered file, by browser version.
void RegisterPermissionKeys(const CUpdateInfo& file);
BOOL RegisterPreApproved(const CUpdateInfo& file);
BOOL UnregisterPreApproved(const CUpdateInfo& file);
BOOL RegisterAllowedDomains(const CUpdateInfo& file);
BOOL UnregisterAllowedDomains(const CUpdateInfo& file);
