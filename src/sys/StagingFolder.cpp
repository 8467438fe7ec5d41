// The staging folder: where downloads, unpacked archives, the catalogue and
// the copies kept for roll back wait. The program runs elevated, so it is a
// folder of the program's own that only administrators and the system can
// write, inside the program files folder, where no other account can make
// anything; a folder of that name that is a link or a junction, or that
// another account owns, is refused, never written through.
#include "sys/Util.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>

namespace {

struct LocalFreer {
    void operator()(void* p) const { if (p) ::LocalFree(p); }
};

// SYSTEM and Administrators, full control, inherited by everything below; no
// one else; not inheriting from the parent folder.
const char kStagingSddl[] = "O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Administrators, the system, or this (elevated) program's own account: a
// platform that keeps no owners of its own reports that one.
bool IsTrustedOwner(PSID sid)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    for (WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
        DWORD size = sizeof(buffer);
        if (::CreateWellKnownSid(type, nullptr, buffer, &size) && ::EqualSid(sid, buffer)) return true;
    }
    zelto::ScopedKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;
    BYTE user[256];
    DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &size) &&
           ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}

bool Refuse(const std::string& folder, const char* why, DWORD error)
{
    RecordLastError(ERR_CREATE_FOLDER, error);
    WriteLog(1, "[PrepareStagingFolder] %s refused: %s", folder.c_str(), why);
    return false;
}

}  // namespace

std::string CUtil::GetStagingFolder()
{
    if (!Folders().szProgramFiles[0]) InitSystemFolders();   // never a folder at the root of a drive
    return std::string(Folders().szProgramFiles) + "\\Zelto\\Staging";
}

BOOL CUtil::PrepareStagingFolder()
{
    const std::string folder = GetStagingFolder();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kStagingSddl, SDDL_REVISION_1,
                                                                &attributes.lpSecurityDescriptor, nullptr))
        return Refuse(folder, "its access list cannot be made", ::GetLastError());
    std::unique_ptr<void, LocalFreer> descriptor(attributes.lpSecurityDescriptor);
    const std::string parent = folder.substr(0, folder.find_last_of('\\'));
    if (!CreateRecursiveDirectory(parent.c_str())) return Refuse(folder, "its parent cannot be made", ::GetLastError());
    if (::CreateDirectoryA(folder.c_str(), &attributes)) {
        WriteLog(2, "[PrepareStagingFolder] %s made for administrators only", folder.c_str());
        return TRUE;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return Refuse(folder, "it cannot be made", ::GetLastError());

    // There already: it must be a plain folder that administrators own.
    const DWORD kind = ::GetFileAttributesA(folder.c_str());
    if (kind == INVALID_FILE_ATTRIBUTES || !(kind & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(folder, "it is no folder", ::GetLastError());
    if (kind & FILE_ATTRIBUTE_REPARSE_POINT) return Refuse(folder, "it is a link or junction", 0);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR present = nullptr;
    DWORD error = ::GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                          nullptr, nullptr, &present);
    std::unique_ptr<void, LocalFreer> presentOwned(present);
    if (error != ERROR_SUCCESS) return Refuse(folder, "its owner cannot be read", error);
    if (!owner || !IsTrustedOwner(owner)) return Refuse(folder, "another account owns it", 0);
    return TRUE;
}
