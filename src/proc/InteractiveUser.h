// The desktop session's user as a SID text, found among the running processes.
#pragma once

#include <windows.h>

#include <string>

// The SID text of the session user, found through a process running under
// that account; cached once found.
BOOL GetInteractiveUserSid(std::string& out);
