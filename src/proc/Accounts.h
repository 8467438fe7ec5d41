// Account facts of processes and of the desktop session's user, read from
// process tokens and the terminal services.
#pragma once

#include <windows.h>

#include <string>

// "S-1-<authority>-<sub>-<sub>...".
void FormatSidText(PSID sid, char* out, size_t size);
BOOL GetProcessOwnerSid(HANDLE process, char* out, size_t size);
BOOL GetProcessAccountName(HANDLE process, std::string& out, BOOL withDomain);
BOOL GetSessionUserName(std::string& out);
