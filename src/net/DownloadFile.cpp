// Downloads to disk and size queries.
#include "net/HttpUtil.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpRequest.h"
#include "sys/Sha256.h"

#include <algorithm>
#include <string>
#include <vector>

#include <ZeltoConfig.h>

const char INSTALL_OPTIONS_URL[] = ZELTO_OPTIONS_URL;

namespace {

// Bytes this thread's transfers read from servers (result reports say what
// a file's transfer moved: the patch or the whole file, tries included).
thread_local ULONGLONG t_bytesReceived = 0;

}  // namespace

ULONGLONG CHttpUtil::BytesReceivedOnThisThread()
{
    return t_bytesReceived;
}

namespace {

// The options document is exempt from the trust check, by identity.
bool IsTrustedUrl(const char* url)
{
    return url == INSTALL_OPTIONS_URL ||
           CHttpUtil::CheckDownloadURL(url, TRUSTED_DOMAIN_SUFFIX, TRUSTED_PATH_PREFIX);
}

// How often a transfer tests its cancel event and posts its progress.
constexpr ULONGLONG kReportInterval = 16;   // milliseconds

class ProgressThrottle {
public:
    bool DueForCheck(ULONGLONG now) { return Due(now, m_lastCheck); }
    bool DueForPost(ULONGLONG now) { return Due(now, m_lastPost); }

private:
    static bool Due(ULONGLONG now, ULONGLONG& last)
    {
        if (now - last < kReportInterval) return false;
        last = now;
        return true;
    }
    ULONGLONG m_lastCheck = ::GetTickCount64();
    ULONGLONG m_lastPost = 0;
};

// The pieces a transfer reads at most at once.
constexpr DWORD kReadChunk = 64 * 1024;

// A try that moves fewer than kStallMinBytes in any kStallWindowMs (the last
// twelve slices of five seconds, once a whole window has passed) is stalled:
// a server that trickles a few bytes at a time never trips a socket time-out,
// yet would hold the run for days. So is a try past its transfer's deadline.
class StallWatch {
public:
    explicit StallWatch(ULONGLONG deadline) : m_deadline(deadline) {}

    bool Stalled(ULONGLONG now, DWORD bytes)
    {
        if (now >= m_deadline) return true;
        const ULONGLONG slice = (now - m_start) / kSliceMs;
        while (m_slice < slice) {   // slices that passed (or passed without a byte) start empty
            ++m_slice;
            m_bytes[m_slice % kSlices] = 0;
        }
        m_bytes[m_slice % kSlices] += bytes;
        if (now - m_start < CHttpUtil::kStallWindowMs) return false;
        ULONGLONG window = 0;
        for (ULONGLONG b : m_bytes) window += b;
        return window < CHttpUtil::kStallMinBytes;
    }

private:
    static constexpr ULONGLONG kSliceMs = 5000;
    static constexpr size_t kSlices = CHttpUtil::kStallWindowMs / kSliceMs;
    ULONGLONG m_deadline;
    ULONGLONG m_start = ::GetTickCount64();
    ULONGLONG m_slice = 0;
    ULONGLONG m_bytes[kSlices] = {};
};

// One try at a transfer, and what its failure means for another try.
struct Attempt {
    // CacheMismatch: other bytes than the hash, from a request a cache may
    // have answered: worth one request past every cache.
    enum Kind { Ok, Transient, Permanent, Cancelled, CacheMismatch } kind = Permanent;
    const char* reason = "";
    bool rangesAccepted = false;   // the server said "Accept-Ranges: bytes"
};

// A request over TLS that failed for its certificate, or was sent from https
// to plain http, is refused for good: logged, LastError set, no other try.
bool RefusedOverTls(const char* url, DWORD error)
{
    if (const char* why = zelto::CertificateErrorText(error)) {
        RecordLastError(ERR_CERTIFICATE, error);
        WriteLog(1, "[DownloadFile] %s: the server's certificate was refused: %s (Error Code = %d)", url, why,
                 static_cast<int>(error));
        return true;
    }
    if (error == ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR) {
        RecordLastError(ERR_UNTRUSTED_URL, error);
        WriteLog(1, "[DownloadFile] %s was redirected from https to http: refused", url);
        return true;
    }
    return false;
}

// The hash of what a kept partial file already holds.
bool HashExisting(HANDLE file, DWORD bytes, CSha256& hash)
{
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
    BYTE buffer[65536];
    for (DWORD left = bytes; left > 0;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer, std::min<DWORD>(left, sizeof(buffer)), &read, nullptr) || read == 0) return false;
        hash.Update(buffer, read);
        left -= read;
    }
    return true;
}

// Transfers url into localPath. With resumeFrom, asks for the rest of the
// file and appends it when the server answers 206; a 200 starts over.
// written: the bytes the file holds afterwards; reported: the bytes posted
// to progressWnd for this file so far (kept up to date).
Attempt TransferOnce(HINTERNET internet, const char* localPath, const char* url, HWND progressWnd, HANDLE cancelEvent,
                     const char* sha256, ULONGLONG maxBytes, bool cacheable, DWORD resumeFrom, DWORD& written,
                     LONG& reported, ULONGLONG deadline)
{
    Attempt attempt;
    written = 0;
    std::string range;
    if (resumeFrom) range = "Range: bytes=" + std::to_string(resumeFrom) + "-";
    zelto::ScopedInternet request = zelto::OpenUrlLogged(internet, url, range.empty() ? nullptr : range.c_str(),
                                                         "[DownloadFile] InternetOpenUrl(%s) Failed (Error Code = %d)",
                                                         cacheable);
    if (!request) {
        const DWORD error = LastError.dwSysError;
        if (RefusedOverTls(url, error)) return attempt;
        attempt.kind = Attempt::Transient;
        attempt.reason = "the URL could not be opened";
        return attempt;
    }

    // WinINet follows redirects by itself: where the request ended must be
    // trusted too, and what began on TLS must end on TLS.
    const std::string finalUrl = zelto::FinalUrl(request.get());
    if (url != INSTALL_OPTIONS_URL &&
        (finalUrl.empty() || (finalUrl != url && !IsTrustedUrl(finalUrl.c_str())))) {
        RecordLastError(ERR_UNTRUSTED_URL, ::GetLastError());
        WriteLog(1, "[DownloadFile] CheckDownloadURL(%s) Failed", finalUrl.c_str());
        return attempt;
    }
    if (zelto::IsDowngrade(url, finalUrl)) {
        RecordLastError(ERR_UNTRUSTED_URL, 0);
        WriteLog(1, "[DownloadFile] %s was redirected to %s: from https to http is refused", url, finalUrl.c_str());
        return attempt;
    }

    const DWORD status = zelto::QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
    const bool resumed = resumeFrom && status == HTTP_STATUS_PARTIAL_CONTENT;
    if (!resumed && !zelto::IsStatusOk(request.get(), url, "[DownloadFile] HttpQueryInfo(%s) = %d ")) {
        if (status >= 500) {
            attempt.kind = Attempt::Transient;
            attempt.reason = "the server answered with an error of its own (5xx)";
        }
        return attempt;
    }
    char accept[32] = "";
    DWORD acceptSize = sizeof(accept);
    attempt.rangesAccepted = ::HttpQueryInfoA(request.get(), HTTP_QUERY_ACCEPT_RANGES, accept, &acceptSize, nullptr) &&
                             lstrcmpiA(accept, "bytes") == 0;

    zelto::ScopedFile file(::CreateFileA(localPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         resumed ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = ::GetLastError();
        RecordLastError(ERR_LOCAL_FILE, error);
        WriteLog(1, "[DownloadFile] CreateFile(%s) Failed, Error Code = %d", localPath, error);
        return attempt;
    }

    // The hash grows with the bytes as they arrive: no second pass (a resumed
    // transfer reads once what the file already holds).
    const bool hashed = sha256 && sha256[0];
    CSha256 hash;
    DWORD received = 0;
    if (resumed) {
        if (!HashExisting(file.get(), resumeFrom, hash) ||
            ::SetFilePointer(file.get(), static_cast<LONG>(resumeFrom), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
            !::SetEndOfFile(file.get())) {
            attempt.kind = Attempt::Transient;
            attempt.reason = "the partial file could not be read";
            return attempt;
        }
        received = resumeFrom;
        WriteLog(1, "[DownloadFile] %s: resumed at byte %u", url, static_cast<unsigned>(resumeFrom));
    } else if (reported && progressWnd) {
        // Starting over: the bytes of the failed try no longer count.
        ::PostMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_CHUNK, -reported);
        reported = 0;
    }

    // The bound holds before a byte is read: an announced length beyond it
    // is refused at once, and the body is never read past it.
    ULONGLONG announced = 0;
    const bool lengthKnown = zelto::QueryContentLength(request.get(), announced) && announced != 0;
    const ULONGLONG fileSize = lengthKnown ? announced + (resumed ? resumeFrom : 0) : 0;
    if (fileSize > maxBytes) {
        RecordLastError(ERR_TRANSFER_TOO_LARGE, 0);
        WriteLog(1, "[DownloadFile] %s: the server announced %s bytes, more than the %s allowed", url,
                 std::to_string(fileSize).c_str(), std::to_string(maxBytes).c_str());
        return attempt;
    }
    bool cancelled = false, readFailed = false, writeFailed = false, tooLarge = false, stalled = false;
    DWORD writeError = 0, readError = 0;
    // Testing the event and posting to the window each cost a round trip to
    // the system; per chunk they would halve the transfer rate. So the event
    // is tested at the first chunk and then every kReportInterval, and the
    // chunks between two posts travel in one post (the posted byte counts
    // still add up to the bytes written).
    ProgressThrottle throttle;
    StallWatch stall(deadline);
    DWORD unreported = 0;
    std::vector<BYTE> buffer(kReadChunk);
    for (bool first = true;; first = false) {
        // Asking what has arrived first lets a read return with what a slow
        // server sent so far, so that the stall watch sees every piece.
        DWORD available = 0, read = 0;
        if (!::InternetQueryDataAvailable(request.get(), &available, 0, 0) ||
            !::InternetReadFile(request.get(), buffer.data(),
                                available ? std::min<DWORD>(available, kReadChunk) : kReadChunk, &read)) {
            readFailed = true;
            readError = ::GetLastError();
            break;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (cancelEvent && (first || throttle.DueForCheck(now)) &&
            ::WaitForSingleObject(cancelEvent, 0) == WAIT_OBJECT_0) {
            WriteLog(1, "[DownloadFile] User canceled downloading");
            cancelled = true;
            break;
        }
        if (read == 0) break;
        t_bytesReceived += read;
        if (received + static_cast<ULONGLONG>(read) > maxBytes) {
            tooLarge = true;
            break;
        }
        DWORD done = 0;
        if (!::WriteFile(file.get(), buffer.data(), read, &done, nullptr)) {
            writeError = ::GetLastError();
            WriteLog(1, "[DownloadFile] WriteFile(%s) Failed, Error Code = %d", localPath, writeError);
            writeFailed = true;
            break;
        }
        if (hashed) hash.Update(buffer.data(), done);
        received += done;
        unreported += done;
        if (progressWnd && throttle.DueForPost(now)) {
            ::PostMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_CHUNK, unreported);
            reported += static_cast<LONG>(unreported);
            unreported = 0;
        }
        if (stall.Stalled(now, done)) {
            stalled = true;
            break;
        }
    }
    if (progressWnd && unreported) {
        ::PostMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_CHUNK, unreported);
        reported += static_cast<LONG>(unreported);
    }
    request.reset();
    // Written without a disk round trip per piece; a whole file is on the
    // disk before anyone relies on it.
    const bool whole = !writeFailed && !tooLarge && !stalled && !cancelled && !readFailed &&
                       (fileSize == 0 || fileSize == received);
    if (whole && !::FlushFileBuffers(file.get()))
        WriteLog(1, "[DownloadFile] FlushFileBuffers(%s) Failed, Error Code = %d", localPath, ::GetLastError());
    file.reset();
    written = received;

    // A transfer that was cancelled or broke is never complete, whether or
    // not the server announced a length.
    if (writeFailed) {
        RecordLastError(ERR_LOCAL_FILE, writeError);
        return attempt;
    }
    if (tooLarge) {
        RecordLastError(ERR_TRANSFER_TOO_LARGE, 0);
        WriteLog(1, "[DownloadFile] %s: the server sent more than the %s bytes allowed; stopped", url,
                 std::to_string(maxBytes).c_str());
        return attempt;
    }
    if (stalled) {
        RecordLastError(ERR_TRANSFER_STALLED, 0);
        if (::GetTickCount64() >= deadline)
            WriteLog(1, "[DownloadFile] %s: not done by its deadline (%s bytes at %u bytes a second); stopped", url,
                     std::to_string(maxBytes).c_str(), static_cast<unsigned>(CHttpUtil::kMinBytesPerSecond));
        else
            WriteLog(1, "[DownloadFile] %s: fewer than %u bytes in %u s; the transfer is stalled", url,
                     static_cast<unsigned>(CHttpUtil::kStallMinBytes),
                     static_cast<unsigned>(CHttpUtil::kStallWindowMs / 1000));
        attempt.kind = Attempt::Transient;
        attempt.reason = "the transfer stalled";
        return attempt;
    }
    if (cancelled || readFailed || (fileSize != 0 && fileSize != received)) {
        RecordLastError(ERR_LENGTH_MISMATCH, readFailed ? readError : 0);
        WriteLog(1, "[DownloadFile] dwFileSize != dwRecv Download Failed");
        attempt.kind = cancelled ? Attempt::Cancelled : Attempt::Transient;
        attempt.reason = readFailed ? "the connection broke" : "the length came up short";
        return attempt;
    }
    // Whatever the transport reported, only the published bytes count.
    if (hashed) {
        const std::string got = hash.HexDigest();
        if (!CSha256::Same(got, sha256)) {
            RecordLastError(ERR_HASH_MISMATCH, 0);
            WriteLog(1, "[DownloadFile] SHA256 mismatch (%s): received %s, catalogue %s", url,
                     got.empty() ? "(none)" : got.c_str(), sha256);
            attempt.kind = cacheable ? Attempt::CacheMismatch : Attempt::Permanent;
            return attempt;
        }
    }
    attempt.kind = Attempt::Ok;
    return attempt;
}

}  // namespace

BOOL CHttpUtil::DownloadFile(HINTERNET internet, const char* localPath, const char* url, BOOL /*reload*/,
                             HWND progressWnd, HANDLE cancelEvent, const char* sha256, ULONGLONG maxBytes)
{
    if (!url || !localPath) return FALSE;
    if (!IsTrustedUrl(url)) {
        RecordLastError(ERR_UNTRUSTED_URL, ::GetLastError());
        WriteLog(1, "[DownloadFile] CheckDownloadURL(%s) Failed", url);
        return FALSE;
    }
    // A transfer that fails for a passing reason is tried twice more, after
    // 1 s and 3 s; it resumes where it broke off when the server takes byte
    // ranges and the file's hash can vouch for the joined bytes.
    const DWORD waits[] = {1000, 3000};
    const bool hashed = sha256 && sha256[0];
    // A file whose hash is known may come from a cache on the way; when the
    // cache's copy is not the published one, it is asked once more from the
    // server itself.
    const bool cacheable = hashed;
    DWORD resumeFrom = 0;
    LONG reported = 0;
    const ULONGLONG deadline = ::GetTickCount64() + TransferDeadlineMs(maxBytes);
    for (int tries = 0;; ++tries) {
        DWORD written = 0;
        const Attempt attempt = TransferOnce(internet, localPath, url, progressWnd, cancelEvent, sha256, maxBytes,
                                             cacheable, resumeFrom, written, reported, deadline);
        if (attempt.kind == Attempt::Ok) return TRUE;
        if (attempt.kind == Attempt::CacheMismatch) {
            // One request past every cache; the mismatch stays the verdict
            // when that one does not bring the published bytes either.
            WriteLog(1, "[DownloadFile] %s: asked again past every cache", url);
            ::DeleteFileA(localPath);
            DWORD fresh = 0;
            if (TransferOnce(internet, localPath, url, progressWnd, cancelEvent, sha256, maxBytes, false, 0, fresh,
                             reported, deadline).kind == Attempt::Ok)
                return TRUE;
            RecordLastError(ERR_HASH_MISMATCH, 0);
            break;
        }
        if (attempt.kind != Attempt::Transient || tries == 2 || ::GetTickCount64() + waits[tries] >= deadline) break;
        WriteLog(1, "[DownloadFile] %s: try %d failed (%s); trying again in %u s", url, tries + 1, attempt.reason,
                 static_cast<unsigned>(waits[tries] / 1000));
        resumeFrom = hashed && attempt.rangesAccepted ? written : 0;
        if (!resumeFrom) ::DeleteFileA(localPath);
        if (cancelEvent && ::WaitForSingleObject(cancelEvent, waits[tries]) == WAIT_OBJECT_0) {
            WriteLog(1, "[DownloadFile] User canceled downloading");
            RecordLastError(ERR_LENGTH_MISMATCH, 0);
            break;
        }
        if (!cancelEvent) ::Sleep(waits[tries]);
    }
    ::DeleteFileA(localPath);
    return FALSE;
}

DWORD CHttpUtil::GetDownloadFileSize(HINTERNET internet, const char* url)
{
    if (!url) return 0;
    // No request leaves the machine for a URL the download would refuse.
    if (!IsTrustedUrl(url)) {
        RecordLastError(ERR_UNTRUSTED_URL, ::GetLastError());
        WriteLog(1, "[GetDownloadFileSize] CheckDownloadURL(%s) Failed", url);
        return 0;
    }
    // The size from a HEAD request, so that the server sends no body; a GET,
    // dropped after its headers, only where the server refuses HEAD.
    DWORD status = 0;
    DWORD size = 0;
    std::string finalUrl;
    if (zelto::HeadRequest(internet, url, status, size, finalUrl) && status != HTTP_STATUS_BAD_METHOD &&
        status != HTTP_STATUS_NOT_SUPPORTED) {
        if ((finalUrl != url && !IsTrustedUrl(finalUrl.c_str())) || zelto::IsDowngrade(url, finalUrl)) {
            RecordLastError(ERR_UNTRUSTED_URL, 0);
            WriteLog(1, "[GetDownloadFileSize] CheckDownloadURL(%s) Failed", finalUrl.c_str());
            return 0;
        }
        if (status == HTTP_STATUS_OK) return size;
        RecordLastError(ERR_HTTP_STATUS, 0);
        WriteLog(1, "[GetDownloadFileSize] HttpQueryInfo(%s) = %d ", url, status);
        return 0;
    }
    zelto::ScopedInternet request = zelto::OpenUrlLogged(
        internet, url, nullptr, "[GetDownloadFileSize] InternetOpenUrl(%s) Failed (Error Code = %d)");
    if (!request) return 0;
    if (!zelto::IsStatusOk(request.get(), url, "[GetDownloadFileSize] HttpQueryInfo(%s) = %d ")) return 0;
    return zelto::QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH);
}
