// Account facts of processes and of the desktop session's user.
#pragma once

#include <windows.h>

#include <string>

// "S-1-<authority>-<sub>-<sub>...".
void FormatSidText(PSID sid, char* out, size_t size);
BOOL GetProcessOwnerSid(HANDLE process, char* out, size_t size);
BOOL GetProcessAccountName(HANDLE process, std::string& out, BOOL withDomain);
BOOL GetSessionUserName(std::string& out);
// The SID text of the session user, found through a process running under
// that account; cached once found.
BOOL GetInteractiveUserSid(std::string& out);
