// CUtil: the system utilities, static operations without object state.
// Folders and path macros, file facts, the registry settings layer,
// component registration helpers and the process starter.
#pragma once

#include <windows.h>

#include <string>

// The process-wide folder table, filled by CUtil::InitSystemFolders.
struct SystemFolders {
    char szProgramFiles[MAX_PATH];
    char szWindows[MAX_PATH];
    char szSystem[MAX_PATH];
    char szTemp[MAX_PATH];          // the user's temporary folder, with its trailing backslash
    char szDownloaded[MAX_PATH];    // Windows folder + "\Downloaded Program Files"
    char szDesktop[MAX_PATH];
    char szPrograms[MAX_PATH];      // the Start-menu programs folder
    char szOSVersion[32];           // "%d.%d"
    int nIEMajorVersion;            // 0 when unknown
    OSVERSIONINFOA osVersion;       // platform id 1 = Windows 9x family, 2 = NT family
};

class CUtil {
public:
    // --- Folders and path macros ---
    static void InitSystemFolders();
    static const SystemFolders& Folders();
    // The staging folder: "<program files>\\Zelto\\Staging", which only
    // administrators and the system may write; "" when the program files
    // folder is not a full path (never a folder at a drive's root).
    static std::string GetStagingFolder();
    // Makes the staging folder with that access list, or checks the one that
    // is there: a link, a junction or a folder another account owns is
    // refused (FALSE, LastError 1001, logged), never written through.
    static BOOL PrepareStagingFolder();
    // True when the access list (DACL) of descriptor lets nobody but the
    // system and the administrators write, delete or change it.
    static bool WritableByAdministratorsOnly(PSECURITY_DESCRIPTOR descriptor);
    static std::string ExpandPathMacros(const char* path);
    static BOOL CreateRecursiveDirectory(const char* path);
    // Deletes folder with everything below it; a link or junction inside is
    // removed as a name, never followed.
    static void RemoveFolderTree(const std::string& folder);
    // Makes folder when it is missing (its parent exists); true when it is a
    // folder afterwards and no link or junction, so that it may be written into.
    static bool MakePlainFolder(const std::string& folder);
    static int CountFilesInFolder(const char* folder);

    // --- File facts ---
    static BOOL IsFileExist(const char* path);
    // A whole file of at most limit bytes into out.
    static bool ReadSmallFile(const std::string& path, DWORD limit, std::string& out);
    static BOOL GetFileVersion(const char* path, DWORD* high, DWORD* low);
    // "%d.%d.%d.%d" of a packed version.
    static std::string FormatVersion(DWORD high, DWORD low);
    // Takes the next token off a comma list (changed in place).
    static std::string NextCommaToken(std::string& list);

    // --- Settings store ---
    static std::string GetProfileString(HKEY root, const char* path, const char* name, const char* def);
    static DWORD GetProfileInteger(HKEY root, const char* path, const char* name, DWORD def);
    static BOOL SetProfileString(HKEY root, const char* path, const char* name, const char* text);
    static BOOL SetProfileInteger(HKEY root, const char* path, const char* name, DWORD value);
    static int GetIEMajorVersion();

    // --- Component registration helpers ---
    // TRUE only when the registration tool ran and ended with exit code 0.
    static BOOL RegisterServer(const char* path);
    static BOOL UnregisterServer(const char* path);
    static BOOL GetInprocServerPath(const char* classId, char* buffer, DWORD size);
    static BOOL RemoveServerByClassId(const char* classId);
    static BOOL CheckClassRegistration(const char* classId, WORD* code);

    // --- Running programs ---
    // Starts path with parameters (may be null); waits for it when wait is
    // TRUE. TRUE when the process was created. With wait and exitCode, the
    // waited process's exit code goes to *exitCode. A waited process still
    // running after waitMs is ended: FALSE, exit code WAIT_TIMEOUT.
    static BOOL ExecuteFile(const char* path, const char* parameters, BOOL wait, DWORD* exitCode = nullptr,
                            DWORD waitMs = INFINITE);
};
