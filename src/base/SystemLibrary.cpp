#include "base/SystemLibrary.h"

#include <delayimp.h>

#include <string>

namespace {

// The delay-load helper asks before it loads a library at its first call:
// the library comes from the system folder by its full path, never by the
// bare name that the program's folder could answer.
FARPROC WINAPI LoadDelayedFromSystemFolder(unsigned notice, PDelayLoadInfo info)
{
    if (notice != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    return reinterpret_cast<FARPROC>(LoadSystemLibrary(info->szDll));
}

}  // namespace

void RestrictLibrarySearch()
{
    __pfnDliNotifyHook2 = &LoadDelayedFromSystemFolder;
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
