#include "proc/Accounts.h"

#include "base/Handles.h"
#include "base/SystemLibrary.h"

#include <wtsapi32.h>

#include <cstdio>

void FormatSidText(PSID sid, char* out, size_t size)
{
    if (!out || size == 0) return;
    PSID_IDENTIFIER_AUTHORITY authority = ::GetSidIdentifierAuthority(sid);
    std::string text = "S-1-" + std::to_string(authority->Value[5]);
    UCHAR count = *::GetSidSubAuthorityCount(sid);
    for (UCHAR i = 0; i < count; ++i) text += "-" + std::to_string(*::GetSidSubAuthority(sid, i));
    lstrcpynA(out, text.c_str(), static_cast<int>(size));
}

BOOL GetProcessOwnerSid(HANDLE process, char* out, size_t size)
{
    zelto::ScopedKernelHandle token;
    if (!::OpenProcessToken(process, TOKEN_QUERY, token.receive())) return FALSE;
    alignas(TOKEN_USER) BYTE buffer[44];
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &needed)) return FALSE;
    FormatSidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, out, size);
    return TRUE;
}

BOOL GetProcessAccountName(HANDLE process, std::string& out, BOOL withDomain)
{
    zelto::ScopedKernelHandle token;
    if (!::OpenProcessToken(process ? process : ::GetCurrentProcess(), TOKEN_QUERY, token.receive())) return FALSE;
    alignas(TOKEN_USER) BYTE buffer[300];
    DWORD needed = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &needed)) return FALSE;
    char name[300] = "", domain[300] = "";
    DWORD nameSize = sizeof(name), domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (!::LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameSize, domain,
                             &domainSize, &use))
        return FALSE;
    out = (domain[0] && withDomain) ? std::string(domain) + name : std::string(name);
    return TRUE;
}

BOOL GetSessionUserName(std::string& out)
{
    zelto::ScopedModule kernel(LoadSystemLibrary("Kernel32.dll")), wts(LoadSystemLibrary("WtsApi32.dll"));
    if (!kernel || !wts) return FALSE;
    auto toSession = reinterpret_cast<BOOL(WINAPI*)(DWORD, DWORD*)>(
        reinterpret_cast<void*>(::GetProcAddress(kernel.get(), "ProcessIdToSessionId")));
    auto query = reinterpret_cast<BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPSTR*, DWORD*)>(
        reinterpret_cast<void*>(::GetProcAddress(wts.get(), "WTSQuerySessionInformationA")));
    auto release = reinterpret_cast<void(WINAPI*)(PVOID)>(
        reinterpret_cast<void*>(::GetProcAddress(wts.get(), "WTSFreeMemory")));
    if (!toSession || !query || !release) return FALSE;
    DWORD session = 0;
    if (!toSession(::GetCurrentProcessId(), &session)) return FALSE;
    LPSTR text = nullptr;
    DWORD bytes = 0;
    BOOL ok = query(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &text, &bytes);
    if (ok && text) out = text;
    if (text) release(text);
    return ok && text;
}
