// What a staged release reads of this machine: its install id, the
// administrators' policies and the clock.
#pragma once

#include "catalogue/Rollout.h"

#include <windows.h>

#include <string>

// The administrators' policies, read-only to the program (below HKLM):
//   DisableUpdates   DWORD 1: items on the machine are not updated
//   DisableInstalls  DWORD 1: items absent from it are not installed
//   Ring             "early" (in once a release starts) or "late" (only at 100 %)
//   PinnedVersions\<item>  a version prefix the item stays on ("1.2")
constexpr const char* kUpdatePolicyKey = "Software\\Policies\\QRV Corporation\\ZeltoSetup";

// The policy for one item; none set gives the default CUpdatePolicy.
CUpdatePolicy ReadUpdatePolicy(const std::string& item);

// The machine's random install id (32 hexadecimal digits), made once and kept
// in HKLM under the program's key as "InstallId"; never sent anywhere. A
// missing or malformed value is made anew.
std::string MachineInstallId();
constexpr const char* kInstallIdKey = "Software\\QRV Corporation\\ZeltoSetup";

// The time the stages are judged at (FILETIME, UTC): the system clock. A
// test build (sample key, or no key) takes ZELTO_TEST_NOW
// ("YYYY-MM-DDTHH:MM:SSZ") from its environment instead, when set.
ULONGLONG RolloutNow();
