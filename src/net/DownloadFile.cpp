// Downloads to disk and size queries.
#include "net/HttpUtil.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpRequest.h"
#include "sys/Sha256.h"

#include <ZeltoConfig.h>

const char INSTALL_OPTIONS_URL[] = ZELTO_OPTIONS_URL;

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

}  // namespace

BOOL CHttpUtil::DownloadFile(HINTERNET internet, const char* localPath, const char* url, BOOL /*reload*/,
                             HWND progressWnd, HANDLE cancelEvent, const char* sha256)
{
    if (!url || !localPath) return FALSE;
    if (!IsTrustedUrl(url)) {
        RecordLastError(ERR_UNTRUSTED_URL, ::GetLastError());
        WriteLog(1, "[DownloadFile] CheckDownloadURL(%s) Failed", url);
        return FALSE;
    }

    zelto::ScopedInternet request =
        zelto::OpenUrlLogged(internet, url, nullptr, "[DownloadFile] InternetOpenUrl(%s) Failed (Error Code = %d)");
    if (!request) return FALSE;

    // WinINet follows redirects by itself: where the request ended must be
    // trusted too.
    if (url != INSTALL_OPTIONS_URL) {
        std::string finalUrl = zelto::FinalUrl(request.get());
        if (finalUrl.empty() || (finalUrl != url && !IsTrustedUrl(finalUrl.c_str()))) {
            RecordLastError(ERR_UNTRUSTED_URL, ::GetLastError());
            WriteLog(1, "[DownloadFile] CheckDownloadURL(%s) Failed", finalUrl.c_str());
            return FALSE;
        }
    }

    if (!zelto::IsStatusOk(request.get(), url, "[DownloadFile] HttpQueryInfo(%s) = %d ")) return FALSE;

    zelto::ScopedFile file(::CreateFileA(localPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file) {
        DWORD error = ::GetLastError();
        RecordLastError(ERR_LOCAL_FILE, error);
        WriteLog(1, "[DownloadFile] CreateFile(%s) Failed, Error Code = %d", localPath, error);
        return FALSE;
    }

    const DWORD fileSize = zelto::QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH);
    DWORD received = 0;
    bool cancelled = false, readFailed = false, writeFailed = false;
    DWORD writeError = 0, readError = 0;
    // Testing the event and posting to the window each cost a round trip to
    // the system; per 4 KiB chunk they would halve the transfer rate. So the
    // event is tested at the first chunk and then every kReportInterval, and
    // the chunks between two posts travel in one post (the posted byte counts
    // still add up to the bytes written).
    ProgressThrottle throttle;
    DWORD unreported = 0;
    // The hash grows with the bytes as they arrive: no second pass.
    const bool hashed = sha256 && sha256[0];
    CSha256 hash;
    BYTE buffer[4096];
    for (bool first = true;; first = false) {
        DWORD read = 0;
        if (!::InternetReadFile(request.get(), buffer, sizeof(buffer), &read)) {
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
        DWORD written = 0;
        if (!::WriteFile(file.get(), buffer, read, &written, nullptr)) {
            writeError = ::GetLastError();
            WriteLog(1, "[DownloadFile] WriteFile(%s) Failed, Error Code = %d", localPath, writeError);
            writeFailed = true;
            break;
        }
        if (hashed) hash.Update(buffer, written);
        received += written;
        unreported += written;
        if (progressWnd && throttle.DueForPost(now)) {
            ::PostMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_CHUNK, unreported);
            unreported = 0;
        }
    }
    if (progressWnd && unreported) ::PostMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_CHUNK, unreported);
    request.reset();
    file.reset();

    // A transfer that was cancelled or broke is never complete, whether or
    // not the server announced a length.
    if (writeFailed) {
        RecordLastError(ERR_LOCAL_FILE, writeError);
        ::DeleteFileA(localPath);
        return FALSE;
    }
    if (cancelled || readFailed || (fileSize != 0 && fileSize != received)) {
        RecordLastError(ERR_LENGTH_MISMATCH, readFailed ? readError : 0);
        WriteLog(1, "[DownloadFile] dwFileSize != dwRecv Download Failed");
        ::DeleteFileA(localPath);
        return FALSE;
    }
    // Whatever the transport reported, only the published bytes count.
    if (hashed) {
        const std::string got = hash.HexDigest();
        if (!CSha256::Same(got, sha256)) {
            RecordLastError(ERR_HASH_MISMATCH, 0);
            WriteLog(1, "[DownloadFile] SHA256 mismatch (%s): received %s, catalogue %s", url,
                     got.empty() ? "(none)" : got.c_str(), sha256);
            ::DeleteFileA(localPath);
            return FALSE;
        }
    }
    return TRUE;
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
    zelto::ScopedInternet request = zelto::OpenUrlLogged(
        internet, url, nullptr, "[GetDownloadFileSize] InternetOpenUrl(%s) Failed (Error Code = %d)");
    if (!request) return 0;
    if (!zelto::IsStatusOk(request.get(), url, "[GetDownloadFileSize] HttpQueryInfo(%s) = %d ")) return 0;
    return zelto::QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH);
}
