// The folder table, the path macros and directory chains.
#include "sys/Util.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "base/Text.h"

#include <shlobj.h>

#include <cstring>

namespace {

SystemFolders g_folders = {};

void Copy(char* target, const std::string& value)
{
    lstrcpynA(target, value.c_str(), MAX_PATH);
}

// The shell's special folder; a lookup that fails leaves the entry as it was.
void SpecialFolder(int csidl, char* target)
{
    LPITEMIDLIST list = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return;
    char path[MAX_PATH];
    if (::SHGetPathFromIDListA(list, path)) Copy(target, path);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(::SHGetMalloc(&allocator)) && allocator) {
        allocator->Free(list);
        allocator->Release();
    }
}


}  // namespace

const SystemFolders& CUtil::Folders()
{
    return g_folders;
}

void CUtil::InitSystemFolders()
{
    g_folders.nIEMajorVersion = GetIEMajorVersion();

    g_folders.osVersion = {};
    g_folders.osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    ::GetVersionExA(&g_folders.osVersion);
    wsprintfA(g_folders.szOSVersion, "%d.%d", static_cast<int>(g_folders.osVersion.dwMajorVersion),
              static_cast<int>(g_folders.osVersion.dwMinorVersion));

    if (g_folders.osVersion.dwMajorVersion < 5) {
        Copy(g_folders.szProgramFiles, GetProfileString(HKEY_LOCAL_MACHINE,
             "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", ""));
        ::GetWindowsDirectoryA(g_folders.szWindows, MAX_PATH);
        ::GetSystemDirectoryA(g_folders.szSystem, MAX_PATH);
    } else {
        SpecialFolder(CSIDL_WINDOWS, g_folders.szWindows);
        SpecialFolder(CSIDL_SYSTEM, g_folders.szSystem);
        SpecialFolder(CSIDL_PROGRAM_FILES, g_folders.szProgramFiles);
    }
    ::GetTempPathA(MAX_PATH, g_folders.szTemp);
    Copy(g_folders.szDownloaded, std::string(g_folders.szWindows) + "\\Downloaded Program Files");

    const char* shellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    Copy(g_folders.szDesktop, GetProfileString(HKEY_CURRENT_USER, shellFolders, "Desktop", ""));
    Copy(g_folders.szPrograms, GetProfileString(HKEY_CURRENT_USER, shellFolders, "Programs", ""));
}

std::string CUtil::ExpandPathMacros(const char* path)
{
    struct Macro { const char* token; const char* value; };
    const Macro macros[] = {
        {"[PROGRAMS]", g_folders.szProgramFiles},
        {"[WINDOWS]", g_folders.szWindows},
        {"%SYSTEMROOT%", g_folders.szWindows},
        {"[SYSTEM]", g_folders.szSystem},
        {"[PROGRAMMENU]", g_folders.szPrograms},
        {"[DESKTOP]", g_folders.szDesktop},
        {"[OSVERSION]", g_folders.szOSVersion},
        {"[DOWNLOADED]", g_folders.szDownloaded},
    };
    std::string text = path ? path : "";
    for (const Macro& macro : macros) {
        size_t p = UpperCase949(text).find(macro.token);
        if (p == std::string::npos) continue;
        text = text.substr(0, p) + macro.value + "\\" + text.substr(p + std::strlen(macro.token));
    }
    if (text.size() > 2 && text.back() == '\\') text.pop_back();
    return text;
}

BOOL CUtil::CreateRecursiveDirectory(const char* path)
{
    if (!path) return FALSE;
    const std::string full(path);
    if (full.size() <= 3) return TRUE;

    auto createStep = [&](const std::string& dir) {
        if (::CreateDirectoryA(dir.c_str(), nullptr)) return true;
        DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS) return true;
        RecordLastError(ERR_CREATE_FOLDER, error);
        WriteLog(2, "[CreateRecursiveDirectory] CreateDirectory error = %d szPathName = %s", error, path);
        return false;
    };
    size_t first = full.find('\\');
    if (first != std::string::npos) {
        for (size_t p = full.find('\\', first + 1); p != std::string::npos; p = full.find('\\', p + 1)) {
            if (!createStep(full.substr(0, p))) return FALSE;
        }
    }
    return createStep(full) ? TRUE : FALSE;
}

int CUtil::CountFilesInFolder(const char* folder)
{
    if (!folder) return 0;
    WIN32_FIND_DATAA data;
    {
        zelto::ScopedFind self(::FindFirstFileA(folder, &data));
        if (!self || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    }
    int count = 0;
    zelto::ScopedFind find(::FindFirstFileA((std::string(folder) + "\\*.*").c_str(), &data));
    if (!find) return 0;
    do {
        if (data.dwFileAttributes == FILE_ATTRIBUTE_NORMAL) ++count;
    } while (::FindNextFileA(find.get(), &data));
    return count;
}
