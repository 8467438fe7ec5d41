#include "install/ProgramCopy.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "install/Placement.h"
#include "sys/Sha256.h"
#include "sys/Util.h"

#include <windows.h>

namespace {

std::string RunningProgram()
{
    char program[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    return length && length < MAX_PATH ? std::string(program) : std::string();
}

// (high, low) of the file's version, 0 when it has none.
unsigned long long VersionOf(const std::string& path)
{
    DWORD high = 0, low = 0;
    CUtil::GetFileVersion(path.c_str(), &high, &low);
    return (static_cast<unsigned long long>(high) << 32) | low;
}

bool MakeCopy(const std::string& copy, const std::string& program)
{
    if (lstrcmpiA(copy.c_str(), program.c_str()) == 0) return true;   // running as the copy
    const std::string mine = CSha256::OfFile(program.c_str());
    if (mine.empty()) {
        WriteLog(1, "[EnsureProgramCopy] %s cannot be read", program.c_str());
        return false;
    }
    if (::GetFileAttributesA(copy.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const unsigned long long present = VersionOf(copy), running = VersionOf(program);
        if (present > running) return true;   // a newer program made it
        if (present == running && CSha256::Same(CSha256::OfFile(copy.c_str()), mine)) return true;
    }
    const std::string folder = copy.substr(0, copy.find_last_of('\\'));
    if (!CUtil::CreateRecursiveDirectory(folder.c_str())) {
        WriteLog(1, "[EnsureProgramCopy] %s cannot be made, Error Code = %d", folder.c_str(), ::GetLastError());
        return false;
    }
    const std::string next = copy + kPlacingSuffix;
    ::SetFileAttributesA(next.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(next.c_str());
    if (!::CopyFileA(program.c_str(), next.c_str(), TRUE) || !CSha256::Same(CSha256::OfFile(next.c_str()), mine)) {
        WriteLog(1, "[EnsureProgramCopy] CopyFile(%s -> %s) Failed, Error Code = %d", program.c_str(), next.c_str(),
                 ::GetLastError());
        ::DeleteFileA(next.c_str());
        return false;
    }
    if (!::MoveFileExA(next.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        // The copy in place runs (an uninstall started from it): it stays
        // until the next run finds it free.
        WriteLog(1, "[EnsureProgramCopy] MoveFileEx(%s -> %s) Failed, Error Code = %d", next.c_str(), copy.c_str(),
                 ::GetLastError());
        ::DeleteFileA(next.c_str());
        return ::GetFileAttributesA(copy.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    WriteLog(2, "[EnsureProgramCopy] %s -> %s", program.c_str(), copy.c_str());
    return true;
}

}  // namespace

std::string ProgramCopyPath()
{
    const std::string staging = CUtil::GetStagingFolder();
    if (staging.empty()) return std::string();
    return staging.substr(0, staging.find_last_of('\\')) + "\\ZeltoSetup.exe";
}

bool EnsureProgramCopy()
{
    static bool made = false;   // once a run: every recorded file asks
    const std::string copy = ProgramCopyPath(), program = RunningProgram();
    if (copy.empty() || program.empty()) return false;
    if (made && ::GetFileAttributesA(copy.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    // A removal before the last restart may have left the copy's deletion
    // pending: an item is recorded again, so the copy stays.
    CancelReplaceAtRestart(std::string(), copy.c_str());
    made = MakeCopy(copy, program);
    return made;
}

void RemoveProgramCopy()
{
    const std::string copy = ProgramCopyPath();
    if (copy.empty() || ::GetFileAttributesA(copy.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileA(copy.c_str())) {
        WriteLog(2, "[RemoveProgramCopy] %s deleted", copy.c_str());
        return;
    }
    WriteLog(1, "[RemoveProgramCopy] %s is in use: removed at the next restart", copy.c_str());
    RemoveAtRestart(copy.c_str(), nullptr);
}
