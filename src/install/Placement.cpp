#include "install/Placement.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "install/ProcessOperations.h"
#include "sys/Util.h"

namespace {

bool IsNtFamily()
{
    return CUtil::Folders().osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string ShortPath(const char* path)
{
    char buffer[MAX_PATH] = {};
    if (!::GetShortPathNameA(path, buffer, MAX_PATH)) return path;
    return buffer;
}

}  // namespace

BOOL MoveInstallFiles(const CUpdateInfo& file, const std::string& staged, int forceDelete, int& restartFlag)
{
    const char* dest = file.m_szDestFileName.c_str();
    DWORD error = ::DeleteFileA(dest) ? ERROR_SUCCESS : ::GetLastError();

    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) {
        BOOL copied = ::CopyFileA(staged.c_str(), dest, FALSE);
        if (!copied) {
            RecordLastError(ERR_COPY_DESTINATION, ::GetLastError());
            WriteLog(1, "[MoveInstallFiles] CopyFile Failed lpExistingFileName = %s m_szDestFileName = %s",
                     staged.c_str(), dest);
        }
        ::DeleteFileA(staged.c_str());
        return copied;
    }
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
        WriteLog(1, "[MoveInstallFiles] DeleteFile(%s) Failed, Error dwError = %d", dest, error);
        return FALSE;
    }

    WriteLog(2, "[MoveInstallFiles] DeleteFile(%s) Failed, ERROR_ACCESS_DENIED || ERROR_SHARING_VIOLATION", dest);
    if (file.m_bReboot == 1) {
        restartFlag = 1;
        ReplaceAtRestart(staged, dest);
        return TRUE;
    }
    if (forceDelete != 1) {
        ReplaceAtRestart(staged, dest);
        return TRUE;
    }
    // The user may close the programs that hold the file.
    if (WaitUntilFileReleased(dest, 1, nullptr) != 1) return TRUE;   // cancelled: the old file stays
    BYTE agreement = 0;
    if (!CloseProcessesUsingModulePath(dest, 1, nullptr, &agreement, 0)) {
        ReplaceAtRestart(staged, dest);
        return TRUE;
    }
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (::DeleteFileA(dest)) {
            ::CopyFileA(staged.c_str(), dest, FALSE);
            ::DeleteFileA(staged.c_str());
            return TRUE;
        }
        ::Sleep(100);
    }
    ReplaceAtRestart(staged, dest);
    return TRUE;
}

void ReplaceAtRestart(const std::string& staged, const char* destination)
{
    if (IsNtFamily()) {
        if (destination && !::MoveFileExA(destination, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return;
        ::MoveFileExA(staged.c_str(), destination, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    std::string key = destination ? ShortPath(destination) : std::string("NUL");
    if (destination && !::WritePrivateProfileStringA("Rename", "NUL", key.c_str(), "Wininit.ini")) return;
    ::WritePrivateProfileStringA("Rename", key.c_str(), ShortPath(staged.c_str()).c_str(), "Wininit.ini");
}

BOOL RemoveAtRestart(const char* path, const char* replacement)
{
    if (!IsNtFamily()) return TRUE;
    if (replacement && !::MoveFileExA(replacement, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return FALSE;
    return ::MoveFileExA(path, replacement, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void RestartSystem()
{
    zelto::ScopedKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive()))
        ::MessageBoxA(nullptr, "OpenProcessToken failed.", "", MB_OK);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    ::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    if (::GetLastError() != ERROR_SUCCESS) ::MessageBoxA(nullptr, "AdjustTokenPrivileges enable failed.", "", MB_OK);
    if (!::InitiateSystemShutdownA(nullptr, const_cast<char*>("System rebooting."), 0, FALSE, TRUE))
        ::MessageBoxA(nullptr, "InitiateSystemShutdown failed.", "", MB_OK);
    privileges.Privileges[0].Attributes = 0;
    ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    if (::GetLastError() != ERROR_SUCCESS) ::MessageBoxA(nullptr, "AdjustTokenPrivileges disable failed.", "", MB_OK);
}
