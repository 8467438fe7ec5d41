// The trust check every downloaded URL must pass.
#include "net/HttpUtil.h"

#include "base/Log.h"
#include "net/HttpRequest.h"

#include <ZeltoConfig.h>

#include <cctype>
#include <cstring>
#include <string>

const char TRUSTED_DOMAIN_SUFFIX[] = ZELTO_DOMAIN_SUFFIX;

namespace {

// A "." or ".." segment in the (decoded) path would let the server resolve
// the request outside the trusted folder.
bool HasDotSegment(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string segment = path.substr(start, end - start);
        if (segment == "." || segment == "..") return true;
        start = end + 1;
    }
    return false;
}

// The path of the URL as written (from the first "/" after the host up to
// "?" or "#"), percent-decoded once: WinINet may resolve dot segments in
// what it reports, but a server sees them.
std::string RawDecodedPath(const char* url)
{
    std::string text(url);
    size_t scheme = text.find("://");
    size_t start = text.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (start == std::string::npos) return std::string();
    size_t end = text.find_first_of("?#", start);
    std::string raw = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string decoded;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && isxdigit(static_cast<unsigned char>(raw[i + 1])) &&
            isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
            decoded += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += raw[i];
        }
    }
    return decoded;
}

}  // namespace

BOOL CHttpUtil::CheckDownloadURL(const char* url, const char* domainSuffix, const char* pathPrefix)
{
    if (!url || !domainSuffix || !pathPrefix) return FALSE;

    char host[256] = {}, path[1024] = {}, user[256] = {}, password[256] = {};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;         parts.dwHostNameLength = 255;
    parts.lpszUrlPath = path;          parts.dwUrlPathLength = sizeof(path);
    parts.lpszUserName = user;         parts.dwUserNameLength = 255;
    parts.lpszPassword = password;     parts.dwPasswordLength = 255;
    // The scheme as written, before the URL cracker sees the text: some
    // crackers take any beginning of "http" ("htt://", "h://") for http, and
    // one overruns its own buffer on a long file URL.
    if (!zelto::IsWrittenHttpUrl(url)) return FALSE;
    if (!::InternetCrackUrlA(url, 0, ICU_DECODE, &parts)) {
        WriteLog(1, "[CheckDownloadURL] InternetCrackUrl Failed, Error Code = %d", ::GetLastError());
        return FALSE;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return FALSE;

    // The host's last bytes, as many as the suffix has, byte-exact.
    size_t hostLength = std::strlen(host), suffixLength = std::strlen(domainSuffix);
    const char* tail = hostLength > suffixLength ? host + hostLength - suffixLength : host;
    if (std::strcmp(tail, domainSuffix) != 0) return FALSE;

    const std::string urlPath(path);
    // A user name or password, or a backslash anywhere, can make the request
    // go elsewhere than the text shows.
    if (user[0] || password[0] || parts.dwUserNameLength || parts.dwPasswordLength ||
        std::strchr(url, '\\')) {
        WriteLog(1, "[CheckDownloadURL] Failed, strUrlPath = %s", urlPath.c_str());
        return FALSE;
    }

    // The first two path segments must be the prefix.
    size_t a = urlPath.find('/');
    size_t b = a == std::string::npos ? std::string::npos : urlPath.find('/', a + 1);
    size_t c = urlPath.find('/', b == std::string::npos ? 0 : b + 1);
    if (a == std::string::npos || c == std::string::npos) return FALSE;
    std::string head = urlPath.substr(a + 1, c - a);
    if (head != pathPrefix) {
        WriteLog(1, "[CheckDownloadURL] Failed, strUrlPath = %s", head.c_str());
        return FALSE;
    }

    // After the one decoding: no dot segments, no backslash (a server may take
    // it for a separator) and no "%" left (double encoding).
    if (HasDotSegment(urlPath) || HasDotSegment(RawDecodedPath(url)) ||
        urlPath.find_first_of("%\\") != std::string::npos) {
        WriteLog(1, "[CheckDownloadURL] Failed, strUrlPath = %s", urlPath.c_str());
        return FALSE;
    }
    return TRUE;
}
