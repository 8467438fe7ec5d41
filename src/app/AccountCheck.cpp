#include "app/AccountCheck.h"

#include "base/Handles.h"
#include "base/Strings.h"
#include "sys/Platform.h"

#include "resource.h"

BOOL TokenHasAdminOrPowerUsers()
{
    zelto::ScopedKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_READ, token.receive())) return FALSE;

    alignas(TOKEN_GROUPS) BYTE buffer[1024];
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenGroups, buffer, sizeof(buffer), &needed)) return FALSE;
    return GroupsHoldAdminOrPowerUsers(*reinterpret_cast<const TOKEN_GROUPS*>(buffer));
}

BOOL GroupsHoldAdminOrPowerUsers(const TOKEN_GROUPS& groups)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    BYTE admins[SECURITY_MAX_SID_SIZE], powerUsers[SECURITY_MAX_SID_SIZE];
    PSID adminSid = admins, powerSid = powerUsers;
    if (!::InitializeSid(adminSid, &nt, 2) || !::InitializeSid(powerSid, &nt, 2)) return FALSE;
    *::GetSidSubAuthority(adminSid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
    *::GetSidSubAuthority(adminSid, 1) = DOMAIN_ALIAS_RID_ADMINS;        // S-1-5-32-544
    *::GetSidSubAuthority(powerSid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
    *::GetSidSubAuthority(powerSid, 1) = DOMAIN_ALIAS_RID_POWER_USERS;   // S-1-5-32-547

    for (DWORD i = 0; i < groups.GroupCount; ++i) {
        PSID sid = groups.Groups[i].Sid;
        if (::EqualSid(sid, adminSid) || ::EqualSid(sid, powerSid)) return TRUE;
    }
    return FALSE;
}

BOOL IsAccountAllowed(DWORD platformId, DWORD majorVersion, BOOL (*tokenCheck)())
{
    if (platformId != VER_PLATFORM_WIN32_NT) return TRUE;
    if (tokenCheck && tokenCheck()) return TRUE;
    return IsVistaOrLater(platformId, majorVersion);
}


BOOL AccountMayRun(DWORD platformId, DWORD majorVersion, BOOL (*tokenCheck)())
{
    if (IsAccountAllowed(platformId, majorVersion, tokenCheck)) return TRUE;
    ShowMessage(IDS_NOT_ADMIN);
    return FALSE;
}

BOOL AccountMayRun()
{
    DWORD platformId = VER_PLATFORM_WIN32_NT, majorVersion = 0;
    GetVersionFacts(platformId, majorVersion);
    return AccountMayRun(platformId, majorVersion, &TokenHasAdminOrPowerUsers);
}
