#include "sys/BrowserSettings.h"

#include "sys/RegKey.h"
#include "sys/UserSettings.h"

#include <ZeltoConfig.h>

#include <objbase.h>

#include <string>
#include <vector>

namespace browser {

namespace {

const char kMain[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Main";
const char kScopes[] = "SOFTWARE\\Microsoft\\Internet Explorer\\SearchScopes";
const char kUntrusted[] = "Software\\Microsoft\\Internet Explorer\\UntrustedPublishers";
const char kPortalName[] = "Zelto";

bool AtNoCase(const std::string& text, size_t pos, const std::string& word)
{
    if (word.empty() || pos > text.size() || text.size() - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(text[pos + i]) != lower(word[i])) return false;
    }
    return true;
}

// "(suffix)+/*" from pos to the end of text.
bool SuffixesThenSlashes(const std::string& text, size_t pos, const std::string& suffix)
{
    size_t end = text.size();
    while (end > pos && text[end - 1] == '/') --end;
    if (suffix.empty() || end == pos || (end - pos) % suffix.size() != 0) return false;
    for (size_t at = pos; at < end; at += suffix.size())
        if (!AtNoCase(text, at, suffix)) return false;
    return true;
}

// One home-page pattern "^(http://)*(label.)*domain.(suffix)+/*$", any case,
// matched by loops (the texts come from the registry and may be long; a
// backtracking matcher would recurse per character).
bool MatchesHomePattern(const std::string& url, const std::string& label, const std::string& suffix)
{
    const std::string scheme = "http://", repeated = label + ".", domain = std::string(ZELTO_DOMAIN_LABEL) + ".";
    size_t at = 0;
    while (AtNoCase(url, at, scheme)) at += scheme.size();   // no label or domain holds "http://"
    // Every count of the repeated label in turn.
    for (;;) {
        if (AtNoCase(url, at, domain) && SuffixesThenSlashes(url, at + domain.size(), suffix)) return true;
        if (!AtNoCase(url, at, repeated)) return false;
        at += repeated.size();
    }
}

bool Open(CRegKey& key, const char* path, REGSAM access)
{
    UserRoot where = SelectUserRoot(path);
    return key.Open(where.root, where.path.c_str(), access) == ERROR_SUCCESS;
}

bool ReadString(const CRegKey& key, const char* name, std::string& out, DWORD size = 256)
{
    std::vector<char> buffer(size);
    DWORD bytes = size;
    if (key.QueryStringValue(name, buffer.data(), &bytes) != ERROR_SUCCESS) return false;
    out = buffer.data();
    return true;
}

std::string ScopePath(const char* scope)
{
    return std::string(kScopes) + "\\" + scope;
}

bool EqualIgnoringCase(const std::string& a, const char* b)
{
    return ::CompareStringA(MAKELCID(0x412, SORT_DEFAULT), NORM_IGNORECASE, a.c_str(), -1, b, -1) == CSTR_EQUAL;
}

// Calls visit(name) for each sub-key until it returns true; false at the end
// of the list or on an enumeration error.
template <typename Visit>
bool ForEachSubKey(const CRegKey& key, Visit visit)
{
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof(name);
        LONG result = ::RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return false;
        if (visit(name)) return true;
    }
}

}  // namespace

BOOL IsPortalHomeUrl(const char* url)
{
    if (!url) return FALSE;
    // Nothing longer than the longest URL the browser takes (2,083 bytes)
    // is a home page.
    const std::string text = url;
    if (text.size() > 2083) return FALSE;
    return MatchesHomePattern(text, ZELTO_JUNIOR_LABEL, ZELTO_MAIN_SUFFIX) ||
           MatchesHomePattern(text, "www", ZELTO_MAIN_SUFFIX) || MatchesHomePattern(text, "www", ZELTO_NATIONAL_SUFFIX);
}

BOOL IsStartPagePortal()
{
    CRegKey key;
    if (!Open(key, kMain, ZELTO_KEY_READ)) return FALSE;
    std::string page;
    if (!ReadString(key, "Start Page", page, 2083)) return FALSE;
    if (IsPortalHomeUrl(page.c_str())) return TRUE;
    std::vector<char> pages(32000);
    DWORD size = static_cast<DWORD>(pages.size());
    if (key.QueryMultiStringValue("Secondary Start Pages", pages.data(), &size) != ERROR_SUCCESS) return FALSE;
    for (const char* p = pages.data(); *p; p += lstrlenA(p) + 1)
        if (IsPortalHomeUrl(p)) return TRUE;
    return FALSE;
}

BOOL SetStartPagePortal()
{
    CRegKey key;
    if (!Open(key, kMain, ZELTO_KEY_WRITE)) return FALSE;
    return key.SetStringValue("Start Page", ZELTO_HOME_URL) == ERROR_SUCCESS;
}

BOOL IsPortalScopeName(const char* scope)
{
    if (!scope) return FALSE;
    CRegKey key;
    std::string name;
    return Open(key, ScopePath(scope).c_str(), ZELTO_KEY_READ) && ReadString(key, "DisplayName", name) &&
           EqualIgnoringCase(name, kPortalName);
}

BOOL IsPortalScopeUrl(const char* scope)
{
    if (!scope) return FALSE;
    CRegKey key;
    std::string url;
    return Open(key, ScopePath(scope).c_str(), ZELTO_KEY_READ) && ReadString(key, "URL", url) &&
           EqualIgnoringCase(url, ZELTO_SEARCH_URL);
}

BOOL SetPortalScopeUrl(const char* scope)
{
    if (!scope) return FALSE;
    CRegKey key;
    std::string name;
    if (!Open(key, ScopePath(scope).c_str(), ZELTO_KEY_WRITE) || !ReadString(key, "DisplayName", name) ||
        !EqualIgnoringCase(name, kPortalName))
        return FALSE;
    return key.SetStringValue("URL", ZELTO_SEARCH_URL) == ERROR_SUCCESS;
}

BOOL IsPortalDefaultScope()
{
    CRegKey key;
    std::string scope;
    return Open(key, kScopes, ZELTO_KEY_READ) && ReadString(key, "DefaultScope", scope) &&
           IsPortalScopeName(scope.c_str()) && IsPortalScopeUrl(scope.c_str());
}

BOOL SetPortalDefaultScope()
{
    CRegKey scopes;
    if (!Open(scopes, kScopes, ZELTO_KEY_WRITE)) return FALSE;
    BOOL result = FALSE;
    bool enumerationFailed = false;
    bool found = false;
    // The first portal scope in enumeration order wins.
    for (DWORD index = 0; !found; ++index) {
        char name[256];
        DWORD length = sizeof(name);
        LONG r = ::RegEnumKeyExA(scopes.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) { enumerationFailed = true; break; }
        if (!IsPortalScopeName(name)) continue;
        found = true;
        if (scopes.SetStringValue("DefaultScope", name) != ERROR_SUCCESS) return FALSE;
        result = IsPortalScopeUrl(name) || SetPortalScopeUrl(name);
    }
    if (found) return result;
    if (enumerationFailed) return FALSE;

    // No portal scope yet: a new one under a fresh GUID. Without a GUID
    // nothing is written (never a scope under an empty name).
    GUID guid;
    if (FAILED(::CoCreateGuid(&guid))) return FALSE;
    char text[64];
    wsprintfA(text, "{%.8X-%.4X-%.4X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X}", guid.Data1, guid.Data2, guid.Data3,
              guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
              guid.Data4[7]);
    CRegKey scope;
    if (scope.Create(scopes.get(), text) != ERROR_SUCCESS) return FALSE;
    scope.SetStringValue("DisplayName", kPortalName);
    scope.SetStringValue("URL", ZELTO_SEARCH_URL);
    scope.SetStringValue("FaviconURLFallback", ZELTO_FAVICON_URL);
    return scopes.SetStringValue("DefaultScope", text) == ERROR_SUCCESS;
}

BOOL IsUntrustedPublisher(const char* publisher)
{
    if (!publisher) return FALSE;
    CRegKey list;
    if (!Open(list, kUntrusted, ZELTO_KEY_WRITE)) return FALSE;
    return ForEachSubKey(list, [&](const char* entry) {
        CRegKey key;
        std::string name;
        return Open(key, (std::string(kUntrusted) + "\\" + entry).c_str(), ZELTO_KEY_READ) &&
               ReadString(key, "Publisher", name) && name == publisher;
    });
}

}  // namespace browser
