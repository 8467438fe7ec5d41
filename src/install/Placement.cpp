#include "install/Placement.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "base/RunMode.h"
#include "install/ProcessOperations.h"
#include "install/RestartOperations.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

#include <aclapi.h>

#include <vector>

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

namespace {

// CopyFailed: a copy or the final move failed (1014 recorded).
enum class Step { Done, InUse, CopyFailed };

bool IsInUseError(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// The staged file's bytes beside the destination under a temporary name,
// on the disk: the destination's folder, so that the move that follows is a
// rename within one volume.
bool WriteBeside(const std::string& staged, const std::string& temporary)
{
    ::SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::CopyFileA(staged.c_str(), temporary.c_str(), FALSE)) return false;
    zelto::ScopedFile written(::CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    return written && ::FlushFileBuffers(written.get());
}

// The staged file itself moved beside the destination, where both lie on
// one volume: no copy of its bytes. A moved file keeps the access list of the
// staging folder (administrators only), so it is given the one a file made
// in the destination's folder gets (inherited from that folder, as a copy's
// is), and its bytes are flushed. False, with the staged file where it was,
// when any of that cannot be done: the caller copies instead.
bool MoveBeside(const std::string& staged, const std::string& temporary)
{
    ::SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Without MOVEFILE_COPY_ALLOWED: another volume fails (not the same device).
    if (!::MoveFileExA(staged.c_str(), temporary.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    ACL empty;
    bool ready = ::InitializeAcl(&empty, sizeof(empty), ACL_REVISION) &&
                 ::SetNamedSecurityInfoA(const_cast<char*>(temporary.c_str()), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, &empty, nullptr) == ERROR_SUCCESS;
    if (ready) {
        zelto::ScopedFile moved(::CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ready = moved && ::FlushFileBuffers(moved.get());
    }
    if (!ready) {
        const DWORD error = ::GetLastError();
        if (!::MoveFileExA(temporary.c_str(), staged.c_str(), MOVEFILE_REPLACE_EXISTING)) ::DeleteFileA(temporary.c_str());
        WriteLog(2, "[MoveInstallFiles] %s moved beside its destination could not take the folder's access list "
                    "(Error Code = %d): copied instead", staged.c_str(), static_cast<int>(error));
        return false;
    }
    return true;
}

// One try at replacing the destination now: a copy of the old file first,
// then the new bytes beside the destination (the staged file moved there, or
// copied), flushed, then one move over it (replace-existing, write-through).
// At no moment is the destination absent or partial: a power cut leaves the
// old file or the new one. replaced tells whether there was an old file.
Step ReplaceNow(const std::string& staged, const char* dest, const std::string& backup, bool mayMove, bool& replaced)
{
    const DWORD attributes = ::GetFileAttributesA(dest);
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    // A read-only destination refuses to be replaced, as a held one does.
    if (existed && (attributes & FILE_ATTRIBUTE_READONLY)) return Step::InUse;
    if (existed && !::CopyFileA(dest, backup.c_str(), FALSE)) {
        DWORD error = ::GetLastError();
        if (IsInUseError(error)) return Step::InUse;
        RecordLastError(ERR_COPY_DESTINATION, error);
        WriteLog(1, "[MoveInstallFiles] CopyFile(%s -> %s) Failed, Error Code = %d", dest, backup.c_str(), error);
        return Step::CopyFailed;
    }
    const std::string temporary = std::string(dest) + kPlacingSuffix;
    const bool moved = mayMove && MoveBeside(staged, temporary);
    if (!moved && !WriteBeside(staged, temporary)) {
        DWORD error = ::GetLastError();
        ::DeleteFileA(temporary.c_str());
        RecordLastError(ERR_COPY_DESTINATION, error);
        WriteLog(1, "[MoveInstallFiles] CopyFile Failed lpExistingFileName = %s m_szDestFileName = %s", staged.c_str(),
                 temporary.c_str());
        ::SetLastError(error);
        return Step::CopyFailed;
    }
    // A held destination refuses the move (access denied, sharing): in use.
    if (!::MoveFileExA(temporary.c_str(), dest, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = ::GetLastError();
        // The staged file goes back for the next try or the restart.
        if (!moved || !::MoveFileExA(temporary.c_str(), staged.c_str(), MOVEFILE_REPLACE_EXISTING))
            ::DeleteFileA(temporary.c_str());
        if (IsInUseError(error)) return Step::InUse;
        RecordLastError(ERR_COPY_DESTINATION, error);
        WriteLog(1, "[MoveInstallFiles] MoveFileEx(%s -> %s) Failed, Error Code = %d", temporary.c_str(), dest, error);
        ::SetLastError(error);
        return Step::CopyFailed;
    }
    replaced = existed;
    return Step::Done;
}

// The replacement at the restart, from a copy of the new bytes beside the
// destination: the staging folder is emptied by later runs, a file beside
// the destination is not.
void ScheduleAtRestart(const std::string& staged, const char* dest, bool keepStaged)
{
    const std::string waiting = std::string(dest) + kRestartSuffix;
    if (IsNtFamily() && WriteBeside(staged, waiting)) {
        if (!keepStaged) ::DeleteFileA(staged.c_str());
        ReplaceAtRestart(waiting, dest);
        return;
    }
    ::DeleteFileA(waiting.c_str());
    ReplaceAtRestart(staged, dest);
}

}  // namespace

BOOL MoveInstallFiles(const CUpdateInfo& file, const std::string& staged, int forceDelete, int& restartFlag,
                      const std::string& keepOldAs, Placement* placement, bool stagedShared)
{
    const char* dest = file.m_szDestFileName.c_str();
    Placement unused = Placement::Nothing;
    Placement& outcome = placement ? *placement : unused;
    outcome = Placement::Nothing;

    // The new file must be there and readable before the old one may go (an
    // archive without the file, say, leaves nothing staged).
    {
        zelto::ScopedFile probe(::CreateFileA(staged.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) {
            DWORD error = ::GetLastError();
            RecordLastError(ERR_COPY_DESTINATION, error);
            WriteLog(1, "[MoveInstallFiles] CopyFile Failed lpExistingFileName = %s m_szDestFileName = %s",
                     staged.c_str(), dest);
            ::SetLastError(error);
            return FALSE;
        }
    }
    // Whatever an earlier run left pending for the restart on this path is
    // taken back: this decision is the last one.
    if (IsNtFamily()) TakeBackPendingOperations(dest);
    const std::string backup = keepOldAs.empty() ? staged + ".old" : keepOldAs;
    // The copy of the old file stays only where the caller asked for it and
    // only when the file was really replaced.
    // The copy carries the old file's attributes: a read-only one must be
    // made writable before it can be deleted.
    auto dropBackup = [&]() {
        ::SetFileAttributesA(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(backup.c_str());
    };
    auto finish = [&](Placement how) {
        outcome = how;
        if (how != Placement::Replaced || keepOldAs.empty()) dropBackup();
        return TRUE;
    };
    // A staged file another file of the run is placed from stays for it.
    auto dropStaged = [&]() {
        if (!stagedShared) ::DeleteFileA(staged.c_str());
    };
    auto placed = [&](bool replaced) {
        dropStaged();
        return finish(replaced ? Placement::Replaced : Placement::Created);
    };
    auto failed = [&]() {
        DWORD error = ::GetLastError();
        dropBackup();
        ::SetLastError(error);
        return FALSE;
    };

    bool replaced = false;
    Step step = ReplaceNow(staged, dest, backup, !stagedShared, replaced);
    if (step == Step::Done) return placed(replaced);
    if (step == Step::CopyFailed) {
        dropStaged();
        return failed();
    }

    WriteLog(2, "[MoveInstallFiles] DeleteFile(%s) Failed, ERROR_ACCESS_DENIED || ERROR_SHARING_VIOLATION", dest);
    if (file.m_bReboot == 1) {
        restartFlag = 1;
        ScheduleAtRestart(staged, dest, stagedShared);
        return finish(Placement::AtRestart);
    }
    if (forceDelete != 1) {
        // The new file takes effect whenever the system next starts; a quiet
        // run says so in its exit code (3010), for the administrator.
        if (IsQuietRun()) restartFlag = 1;
        ScheduleAtRestart(staged, dest, stagedShared);
        return finish(Placement::AtRestart);
    }
    // The user may close the programs that hold the file.
    if (WaitUntilFileReleased(dest, 1, nullptr) != 1) return finish(Placement::Nothing);   // the old file stays
    BYTE agreement = 0;
    if (!CloseProcessesUsingModulePath(dest, 1, nullptr, &agreement, 0)) {
        ScheduleAtRestart(staged, dest, stagedShared);
        return finish(Placement::AtRestart);
    }
    for (int attempt = 0; attempt < 10; ++attempt) {
        step = ReplaceNow(staged, dest, backup, !stagedShared, replaced);
        if (step == Step::Done) return placed(replaced);
        if (step == Step::CopyFailed) return failed();
        ::Sleep(100);
    }
    ScheduleAtRestart(staged, dest, stagedShared);
    return finish(Placement::AtRestart);
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

void CancelReplaceAtRestart(const std::string& staged, const char* destination)
{
    if (!IsNtFamily() || !destination) return;
    const std::string dest = destination;
    auto same = [](const std::string& a, const std::string& b) {
        return !a.empty() && !b.empty() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
    };
    if (DropPendingOperations([&](const PendingOperation& op) {
            return (same(op.source, dest) && op.target.empty()) || (same(op.source, staged) && same(op.target, dest));
        }))
        WriteLog(2, "[CancelReplaceAtRestart] %s", destination);
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
