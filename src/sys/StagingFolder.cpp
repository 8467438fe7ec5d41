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
    if (!Folders().szProgramFiles[0]) InitSystemFolders();
    const char* programFiles = Folders().szProgramFiles;
    // "X:\\..." or "\\\\server\\...": an empty or relative folder would put the
    // staging folder at a drive's root or where the program was started.
    const bool full = (IsCharAlphaA(programFiles[0]) && programFiles[1] == ':' && programFiles[2] == '\\') ||
                      (programFiles[0] == '\\' && programFiles[1] == '\\');
    if (!full) return std::string();
    return std::string(programFiles) + "\\Zelto\\Staging";
}

bool CUtil::WritableByAdministratorsOnly(PSECURITY_DESCRIPTOR descriptor)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!descriptor || !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return false;
    if (!present || !dacl) return false;   // no access list: everyone may do everything
    const DWORD writes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                         FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                         MAXIMUM_ALLOWED;
    BYTE system[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(system);
    if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size)) return false;
    size = sizeof(admins);
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size)) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == SYSTEM_AUDIT_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;   // kinds not read here: not trusted
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (!(ace->Mask & writes)) continue;
        PSID sid = &ace->SidStart;
        if (!::EqualSid(sid, system) && !::EqualSid(sid, admins)) return false;
    }
    return true;
}

bool CUtil::MakePlainFolder(const std::string& folder)
{
    DWORD attributes = ::GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && ::CreateDirectoryA(folder.c_str(), nullptr))
        attributes = ::GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

namespace {

bool IsLink(const std::string& path)
{
    const DWORD kind = ::GetFileAttributesA(path.c_str());
    return kind != INVALID_FILE_ATTRIBUTES && (kind & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether this system keeps the access list a folder is made with: a probe
// folder is made beside the staging folder with its list and read back once
// a run. A system that keeps none (Wine reports a list of its own making for
// every file) leaves the owner as the only thing to check.
bool KeepsAccessLists(const std::string& parent, SECURITY_ATTRIBUTES& attributes)
{
    static int keeps = -1;
    if (keeps >= 0) return keeps == 1;
    const std::string probe = parent + "\\Staging.probe-" + std::to_string(::GetCurrentProcessId());
    ::RemoveDirectoryA(probe.c_str());
    if (!::CreateDirectoryA(probe.c_str(), &attributes)) return true;   // judged strictly
    PSECURITY_DESCRIPTOR present = nullptr;
    DWORD error = ::GetNamedSecurityInfoA(probe.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          nullptr, nullptr, &present);
    std::unique_ptr<void, LocalFreer> presentOwned(present);
    ::RemoveDirectoryA(probe.c_str());
    keeps = error != ERROR_SUCCESS || CUtil::WritableByAdministratorsOnly(present) ? 1 : 0;
    if (!keeps) WriteLog(2, "[PrepareStagingFolder] this system keeps no access lists: the owner alone is checked");
    return keeps == 1;
}

// Reads the folder's owner and access list: "" when both are the program's
// own, else why not.
const char* Untrusted(const std::string& folder, bool checkList, DWORD& error)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR present = nullptr;
    error = ::GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    &owner, nullptr, nullptr, nullptr, &present);
    std::unique_ptr<void, LocalFreer> presentOwned(present);
    if (error != ERROR_SUCCESS) return "its owner and access list cannot be read";
    if (!owner || !IsTrustedOwner(owner)) return "another account owns it";
    if (checkList && !CUtil::WritableByAdministratorsOnly(present)) return "its access list lets others write to it";
    return "";
}

}  // namespace

BOOL CUtil::PrepareStagingFolder()
{
    const std::string folder = GetStagingFolder();
    if (folder.empty())
        return Refuse(Folders().szProgramFiles, "the program files folder is no full path", ERROR_BAD_PATHNAME);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kStagingSddl, SDDL_REVISION_1,
                                                                &attributes.lpSecurityDescriptor, nullptr))
        return Refuse(folder, "its access list cannot be made", ::GetLastError());
    std::unique_ptr<void, LocalFreer> descriptor(attributes.lpSecurityDescriptor);
    const std::string parent = folder.substr(0, folder.find_last_of('\\'));
    if (!CreateRecursiveDirectory(parent.c_str())) return Refuse(folder, "its parent cannot be made", ::GetLastError());
    // The parent must be a folder of the program files folder itself: a link
    // there would put the staging folder wherever its maker wants.
    if (IsLink(parent)) return Refuse(folder, "its parent is a link or junction", 0);
    if (::CreateDirectoryA(folder.c_str(), &attributes)) {
        WriteLog(2, "[PrepareStagingFolder] %s made for administrators only", folder.c_str());
        return TRUE;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return Refuse(folder, "it cannot be made", ::GetLastError());

    // There already: it must be a plain folder that administrators own and
    // that nobody else may write to.
    const DWORD kind = ::GetFileAttributesA(folder.c_str());
    if (kind == INVALID_FILE_ATTRIBUTES || !(kind & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(folder, "it is no folder", ::GetLastError());
    if (kind & FILE_ATTRIBUTE_REPARSE_POINT) return Refuse(folder, "it is a link or junction", 0);
    DWORD error = 0;
    const bool checkList = KeepsAccessLists(parent, attributes);
    const char* why = Untrusted(folder, checkList, error);
    if (!why[0]) return TRUE;
    if (error != ERROR_SUCCESS) return Refuse(folder, why, error);
    // Whatever others could have put there is not trusted: the folder is
    // made anew, with its own access list.
    WriteLog(1, "[PrepareStagingFolder] %s: %s; made anew", folder.c_str(), why);
    RemoveFolderTree(folder);
    if (!::CreateDirectoryA(folder.c_str(), &attributes)) return Refuse(folder, "it cannot be made anew", ::GetLastError());
    why = Untrusted(folder, checkList, error);
    if (why[0]) return Refuse(folder, why, error);
    return TRUE;
}
