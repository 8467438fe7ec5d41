#include "base/SystemLibrary.h"

#include <string>

void RestrictLibrarySearch()
{
    // Present from Windows 7 with its 2011 loader update, and later; looked up
    // so that the program still starts on a system without it.
    using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (HMODULE kernel = ::GetModuleHandleA("kernel32.dll")) {
        auto setDirectories = reinterpret_cast<SetDirectoriesFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
        if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    ::SetDllDirectoryA("");   // the current folder leaves the search order
}

HMODULE LoadSystemLibrary(const char* name)
{
    char folder[MAX_PATH] = {};
    UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (!name || length == 0 || length >= MAX_PATH) return nullptr;
    const std::string path = std::string(folder) + "\\" + name;
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
