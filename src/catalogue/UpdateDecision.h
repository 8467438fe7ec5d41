// Whether a catalogue file must be downloaded and placed, and the installed
// companion control's version.
#pragma once

#include "catalogue/UpdateInfo.h"

#include <string>

// 1 when the file must be installed. Re-registers a present file marked
// REGISTER (one that fails is installed again, never deleted); uses a
// current staged copy (downloaded flag) and deletes a stale one.
BOOL IsUpdateNeeded(CUpdateInfo& file);

// 1 when the searched file differs from the catalogue's size, time (to the
// second, in local time) or (older) version, tested in that order.
BOOL CheckUpdate(const CUpdateInfo& file, const WIN32_FIND_DATAA& found, const std::string& foundPath);

// "%d.%d.%d.%d" of the companion control listed by the downloaded-code store.
std::string GetCompanionVersion();
