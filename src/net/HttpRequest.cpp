#include "net/HttpRequest.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpUtil.h"

#include <cstring>
#include <vector>

namespace zelto {

ScopedInternet OpenInternet()
{
    ScopedInternet internet(::InternetOpenA(ZELTO_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return internet;
    // No request waits without end for a server that accepts and says
    // nothing: the handles of every request inherit these limits.
    DWORD timeout = kNetworkTimeoutMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(internet.get(), option, &timeout, sizeof(timeout));
    return internet;
}

ScopedInternet OpenInternetLogged(const char* logFormat)
{
    ScopedInternet internet = OpenInternet();
    if (!internet) {
        DWORD error = ::GetLastError();
        RecordLastError(ERR_INTERNET_OPEN, error);
        WriteLog(1, logFormat, error);
    }
    return internet;
}

ScopedInternet OpenUrl(HINTERNET internet, const char* url, const char* headers, bool cacheable)
{
    // A request is answered by the server itself, so that no proxy or cache
    // on the way hands out an old catalogue or file; only a file whose hash
    // the catalogue gives may come from a cache (its bytes are checked).
    std::string all = cacheable ? "" : ZELTO_FRESH_HEADERS;
    if (headers && headers[0]) all += std::string(headers) + "\r\n";
    return ScopedInternet(::InternetOpenUrlA(internet, url, all.empty() ? nullptr : all.c_str(),
                                             static_cast<DWORD>(all.size()),
                                             cacheable ? ZELTO_CACHEABLE_FLAGS : ZELTO_FRESH_FLAGS, 0));
}

ScopedInternet OpenUrlLogged(HINTERNET internet, const char* url, const char* headers, const char* logFormat,
                             bool cacheable)
{
    ScopedInternet request = OpenUrl(internet, url, headers, cacheable);
    if (!request) {
        DWORD error = ::GetLastError();
        RecordLastError(ERR_OPEN_URL, error);
        WriteLog(1, logFormat, url, error);
    }
    return request;
}

bool IsStatusOk(HINTERNET request, const char* url, const char* logFormat)
{
    DWORD status = QueryNumber(request, HTTP_QUERY_STATUS_CODE);
    if (status == HTTP_STATUS_OK) return true;
    RecordLastError(ERR_HTTP_STATUS, ::GetLastError());
    WriteLog(1, logFormat, url, status);
    return false;
}

DWORD QueryNumber(HINTERNET request, DWORD query)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!::HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr)) return 0;
    return value;
}

bool IsHttpsUrl(const std::string& url)
{
    return url.size() >= 8 && _strnicmp(url.c_str(), "https://", 8) == 0;
}

bool IsWrittenHttpUrl(const char* url)
{
    return url && (_strnicmp(url, "http://", 7) == 0 || _strnicmp(url, "https://", 8) == 0);
}

bool IsDowngrade(const std::string& from, const std::string& to)
{
    return IsHttpsUrl(from) && !IsHttpsUrl(to);
}

const char* CertificateErrorText(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return "the certificate has expired or is not yet valid";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return "the certificate is for another host";
    case ERROR_INTERNET_INVALID_CA: return "the certificate's authority is not trusted";
    case ERROR_INTERNET_SEC_CERT_ERRORS: return "the certificate has errors";
    case ERROR_INTERNET_SEC_CERT_NO_REV: return "the certificate's revocation cannot be checked";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return "the certificate's chain or revocation check failed";
    case ERROR_INTERNET_SEC_CERT_REVOKED: return "the certificate was revoked";
    case ERROR_INTERNET_SEC_INVALID_CERT: return "the certificate is invalid";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return "the secure channel could not be set up";
    default: return nullptr;
    }
}

bool QueryContentLength(HINTERNET request, ULONGLONG& length)
{
    // Read as text: a number past 32 bits must not wrap into a small one.
    char text[32] = "";
    DWORD size = sizeof(text);
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
    ULONGLONG value = 0;
    const char* p = text;
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > (~0ULL - 9) / 10) {   // beyond any bound: say so
            value = ~0ULL;
            break;
        }
        value = value * 10 + static_cast<ULONGLONG>(*p - '0');
    }
    length = value;
    return true;
}

std::string FinalUrl(HINTERNET request)
{
    DWORD size = 0;
    ::InternetQueryOptionA(request, INTERNET_OPTION_URL, nullptr, &size);
    if (size == 0) return std::string();
    std::vector<char> buffer(size + 1);
    if (!::InternetQueryOptionA(request, INTERNET_OPTION_URL, buffer.data(), &size)) return std::string();
    buffer[size < buffer.size() ? size : buffer.size() - 1] = '\0';
    return std::string(buffer.data());
}

bool HeadRequest(HINTERNET internet, const char* url, DWORD& status, DWORD& length, std::string& finalUrl)
{
    char host[256] = {}, path[2048] = {}, extra[2048] = {};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;    parts.dwHostNameLength = sizeof(host);
    parts.lpszUrlPath = path;     parts.dwUrlPathLength = sizeof(path);
    parts.lpszExtraInfo = extra;  parts.dwExtraInfoLength = sizeof(extra);
    if (!IsWrittenHttpUrl(url) || !::InternetCrackUrlA(url, 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return false;
    // Over TLS the system checks the certificate; no flag ever waives it.
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
    ScopedInternet connection(::InternetConnectA(internet, host, parts.nPort, nullptr, nullptr,
                                                 INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    const std::string object = std::string(path) + extra;
    ScopedInternet request(::HttpOpenRequestA(connection.get(), "HEAD", object.c_str(), nullptr, nullptr, nullptr,
                                              ZELTO_FRESH_FLAGS | secure, 0));
    if (!request) return false;
    if (!::HttpSendRequestA(request.get(), ZELTO_FRESH_HEADERS, static_cast<DWORD>(std::strlen(ZELTO_FRESH_HEADERS)),
                            nullptr, 0))
        return false;
    status = QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
    length = QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH);
    finalUrl = FinalUrl(request.get());
    return status != 0;
}

}  // namespace zelto
