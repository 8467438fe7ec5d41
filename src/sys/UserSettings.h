// Settings that belong to the person at the desktop: which registry root
// reaches them, and the NoShowIfUpdate flag.
#pragma once

#include <windows.h>

#include <string>

struct UserRoot {
    HKEY root;
    std::string path;
};

// HKEY_CURRENT_USER and path, or HKEY_USERS and "<session user SID>\path"
// when the program runs (on NT 6 and later) under another account.
UserRoot SelectUserRoot(const char* path);
// 1 when the answer could be worked out; other = the session user differs.
BOOL IsRunningAsOtherUser(BOOL* other);
BOOL SetNoShowIfUpdate(BYTE flag);
BOOL GetNoShowIfUpdate(BYTE* flag);
