// Helpers shared by the HTTP operations: opening a URL with the fresh flags
// and the numeric status and length queries.
#pragma once

#include "base/Handles.h"

#include <string>

namespace zelto {

// How long a request waits to connect, to send, and for the next bytes of
// an answer, before it fails.
constexpr DWORD kNetworkTimeoutMs = 30000;

// Opens an Internet handle whose requests wait at most kNetworkTimeoutMs.
ScopedInternet OpenInternet();
// Opens an Internet handle; on failure records 1002 and logs logFormat (system error).
ScopedInternet OpenInternetLogged(const char* logFormat);
// Opens url past every cache (ZELTO_FRESH_FLAGS and headers), or, when
// cacheable (a file whose hash is known), as an ordinary request that a proxy
// or content network may answer.
ScopedInternet OpenUrl(HINTERNET internet, const char* url, const char* headers = nullptr, bool cacheable = false);
// The numeric value of an HTTP query (status, content length), 0 when absent.
DWORD QueryNumber(HINTERNET request, DWORD query);
// True when url says https (in any case).
bool IsHttpsUrl(const std::string& url);
// True when url is written as http:// or https:// (in any case). Checked
// before a URL is handed to the system's URL cracker: it copies a file URL's
// path through a buffer of MAX_PATH characters of its own, and a longer path
// overruns it (seen under Wine: "file:" and 300 letters ended the program).
bool IsWrittenHttpUrl(const char* url);
// True when a request for from ended at to on plain http: refused always.
bool IsDowngrade(const std::string& from, const std::string& to);
// What a certificate error of WinINet means, or null for other errors. A
// certificate error is final: another try meets the same certificate.
const char* CertificateErrorText(DWORD error);

// The announced Content-Length as a 64-bit number (saturating); false when
// none was announced.
bool QueryContentLength(HINTERNET request, ULONGLONG& length);
// Opens url; on failure records 1003 and logs logFormat (url, system error).
ScopedInternet OpenUrlLogged(HINTERNET internet, const char* url, const char* headers, const char* logFormat,
                             bool cacheable = false);
// TRUE when the status is 200; otherwise records 1005 and logs logFormat (url, status).
bool IsStatusOk(HINTERNET request, const char* url, const char* logFormat);
// The URL a request ended at, after the redirects WinINet followed itself.
std::string FinalUrl(HINTERNET request);
// A HEAD request for url, past every cache as the other requests. False when
// it could not be sent (nothing recorded); else the status, the announced
// length (0 when none) and the URL it ended at.
bool HeadRequest(HINTERNET internet, const char* url, DWORD& status, DWORD& length, std::string& finalUrl);

}  // namespace zelto
