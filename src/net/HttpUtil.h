// The program's only road to the network: stateless operations over WinINet.
// Every operation makes one attempt and reports success or failure; every
// handle it opens is closed before it returns.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

// Every Internet handle the program opens uses this agent string.
constexpr const char* ZELTO_AGENT = "ZeltoOmbrix/1.0.1.31";

// Request flags of every request: always from the server, never cached.
// Past every cache: WinINet's own (reload, no write) and any proxy's (the
// no-cache pragma, with the request headers of ZELTO_FRESH_HEADERS).
constexpr DWORD ZELTO_FRESH_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr const char* ZELTO_FRESH_HEADERS = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
// A component file whose SHA-256 the catalogue gives is immutable and
// verified: any cache may answer it. WinINet's own cache is never filled (no
// second copy of every component on the user's disk), so it has none to give.
constexpr DWORD ZELTO_CACHEABLE_FLAGS = INTERNET_FLAG_NO_CACHE_WRITE;

// The download progress message: wParam 3, lParam the bytes of one chunk.
constexpr UINT UM_DOWNLOAD_PROGRESS = WM_USER + 102;
constexpr WPARAM DOWNLOAD_PROGRESS_CHUNK = 3;

// The trusted download origin: hosts under the portal's domain, paths under this prefix.
extern const char TRUSTED_DOMAIN_SUFFIX[];
constexpr const char* TRUSTED_PATH_PREFIX = "zelto/zeltosetup/";

// The install options document: the one URL exempt from the trust check.
// DownloadFile recognises it by identity, so pass this very array.
extern const char INSTALL_OPTIONS_URL[];

class CHttpUtil {
public:
    // The most bytes a transfer may bring, as they arrive: a download whose
    // size the catalogue does not state, the catalogue, its signature and
    // the install options document.
    static constexpr ULONGLONG kMaxDownloadBytes = 1ULL << 30;
    static constexpr ULONGLONG kMaxCatalogueBytes = 16ULL << 20;
    static constexpr ULONGLONG kMaxSignatureBytes = 64ULL << 10;
    static constexpr ULONGLONG kMaxOptionsBytes = 1ULL << 20;
    // The slowest a transfer may go: 2 KiB a second on average over any
    // minute. A slow mobile link (GPRS, about 5 KiB a second) passes; a
    // trickle that keeps the connection alive (35 bytes a second would take
    // five days for the catalogue) fails as stalled, and is tried again as a
    // broken connection is.
    static constexpr ULONGLONG kMinBytesPerSecond = 2048;
    static constexpr ULONGLONG kStallWindowMs = 60000;
    static constexpr ULONGLONG kStallMinBytes = kMinBytesPerSecond * kStallWindowMs / 1000;
    // Every transfer, its tries and the waits between them together, ends
    // within a deadline: its bound moved at the slowest rate, and a minute.
    static ULONGLONG TransferDeadlineMs(ULONGLONG maxBytes)
    {
        return kStallWindowMs + maxBytes / kMinBytesPerSecond * 1000;
    }

    // The host name of a URL; the URL unchanged when it contains "about:";
    // "" when the URL cannot be split (LastError 1010).
    static std::string ExtractDomainFromURL(const char* url);

    // Downloads url into localPath through the open Internet handle. Posts
    // UM_DOWNLOAD_PROGRESS per chunk to progressWnd (may be null) and stops
    // when cancelEvent (may be null) is set. TRUE only when the whole body was
    // written and, when sha256 (64 hexadecimal digits, may be null or empty)
    // is given, its SHA-256 is that one (else LastError 1016); on failure no
    // partial file is left. A body longer than maxBytes (announced or sent)
    // fails at once with LastError 1020; a stalled one (1021) is tried again
    // until the transfer's deadline (TransferDeadlineMs), when it fails (1021).
    static BOOL DownloadFile(HINTERNET internet, const char* localPath, const char* url, BOOL reload,
                             HWND progressWnd, HANDLE cancelEvent, const char* sha256 = nullptr,
                             ULONGLONG maxBytes = kMaxDownloadBytes);

    // The bytes DownloadFile has read from servers on this thread so far
    // (kept or not): the difference over a file's transfer is what it moved.
    static ULONGLONG BytesReceivedOnThisThread();

    // The announced length of url, or 0 on failure or when none is announced.
    static DWORD GetDownloadFileSize(HINTERNET internet, const char* url);

    // A GET with the header "Referer:client://ombrix"; TRUE when the answer is 200.
    static BOOL RequestURL(const char* url);

    // TRUE when url is http or https on a host ending in domainSuffix and its
    // path begins with "/" + pathPrefix, with no tricks that could lead elsewhere.
    static BOOL CheckDownloadURL(const char* url, const char* domainSuffix, const char* pathPrefix);

    // Asks the content server which install options to offer: writes 0 into
    // a flag whose option the document switches off; leaves them otherwise.
    static void GetInstallOption(BYTE* showStartPageAndSearch, BYTE* showUpdateWindow);
    // Reads an options document's bytes: FALSE when they are no XML, the
    // flags then untouched.
    static BOOL ReadInstallOption(const std::string& document, BYTE* showStartPageAndSearch, BYTE* showUpdateWindow);
};
