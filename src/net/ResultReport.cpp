#include "net/ResultReport.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"

#include <ntsecapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kMaxReportsInFlight = 8;

struct Reports {
    std::mutex lock;
    std::string url;
    int rate = 0;
    std::vector<zelto::ScopedKernelHandle> threads;
};

Reports& State()
{
    static Reports reports;
    return reports;
}

// Query text: letters, digits and "-._~" as they are, every other byte as %XX.
std::string Escaped(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// One GET that carries nothing of the user's: no cookies sent or kept, no
// credentials offered, no redirect followed (a report goes to the host the
// catalogue named, or nowhere).
bool RequestReport(const std::string& url, DWORD& status)
{
    status = 0;
    zelto::ScopedInternet internet = zelto::OpenInternet();
    if (!internet) return false;
    const char* headers = ZELTO_FRESH_HEADERS;
    zelto::ScopedInternet request(::InternetOpenUrlA(
        internet.get(), url.c_str(), headers, static_cast<DWORD>(std::strlen(headers)),
        ZELTO_FRESH_FLAGS | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_AUTO_REDIRECT |
            INTERNET_FLAG_NO_UI,
        0));
    if (!request) return false;
    status = zelto::QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
    return status == HTTP_STATUS_OK;
}

DWORD WINAPI SendReport(void* parameter)
{
    std::unique_ptr<std::string> url(static_cast<std::string*>(parameter));
    DWORD status = 0;
    const bool ok = RequestReport(*url, status);
    WriteLog(1, "[ReportResult] Send URL : [%s] %s", url->c_str(), ok ? "SUCCESS" : "FAILED");
    if (status >= 300 && status < 400) WriteLog(1, "[ReportResult] answered %lu: redirects are not followed",
                                                static_cast<unsigned long>(status));
    return 0;
}

}  // namespace

void CResultReports::Configure(const std::string& reportUrl, int rateHundredths, bool secure)
{
    Reports& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.url.clear();
    state.rate = 0;
    if (reportUrl.empty()) return;
    // A catalogue that came over https has its results go over https too.
    std::string url = reportUrl;
    if (secure && _strnicmp(url.c_str(), "http://", 7) == 0) {
        url = "https://" + url.substr(7);
        WriteLog(2, "[ReportResult] REPORT %s: sent over https, as the catalogue came", reportUrl.c_str());
    }
    // Only the portal's own servers hear what a machine installed.
    if (!CHttpUtil::CheckDownloadURL(url.c_str(), TRUSTED_DOMAIN_SUFFIX, TRUSTED_PATH_PREFIX)) {
        WriteLog(1, "[ReportResult] REPORT %s fails the trust rule: no result is reported", url.c_str());
        return;
    }
    state.url = url;
    state.rate = rateHundredths;
}

std::string CResultReports::Url()
{
    Reports& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.url;
}

std::string CResultReports::ReportUrl(const std::string& base, const CItemResult& result)
{
    char numbers[160];
    std::snprintf(numbers, sizeof(numbers), "&error=%lu&syserror=%lu&ms=%lu&bytes=%llu&stage=%d&first=%d",
                  static_cast<unsigned long>(result.error), static_cast<unsigned long>(result.sysError),
                  static_cast<unsigned long>(result.downloadMs), static_cast<unsigned long long>(result.downloadBytes),
                  result.stage, result.first ? 1 : 0);
    return base + (base.find('?') == std::string::npos ? "?" : "&") + "item=" + Escaped(result.item) +
           "&from=" + Escaped(result.from) + "&to=" + Escaped(result.to) + "&outcome=" + result.outcome + numbers;
}

void CResultReports::Send(const CItemResult& result)
{
    Reports& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.url.empty() || state.rate <= 0) return;
    if (state.rate < 10000) {
        unsigned int draw = 0;
        if (!RtlGenRandom(&draw, sizeof(draw)) || static_cast<int>(draw % 10000) >= state.rate) return;
    }
    // A catalogue of many items must not start as many threads and
    // connections at once: past a few in flight, a result goes unreported.
    state.threads.erase(std::remove_if(state.threads.begin(), state.threads.end(),
                                       [](const zelto::ScopedKernelHandle& thread) {
                                           return ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
                                       }),
                        state.threads.end());
    if (state.threads.size() >= kMaxReportsInFlight) {
        WriteLog(1, "[ReportResult] %u reports still going: the result of %s is not reported",
                 static_cast<unsigned>(state.threads.size()), result.item.c_str());
        return;
    }
    auto url = std::make_unique<std::string>(ReportUrl(state.url, result));
    DWORD id = 0;
    zelto::ScopedKernelHandle thread(::CreateThread(nullptr, 0, &SendReport, url.get(), 0, &id));
    if (!thread) {
        WriteLog(1, "[ReportResult] CreateThread Failed, Error Code = %d", static_cast<int>(::GetLastError()));
        return;
    }
    url.release();   // the thread owns it now
    state.threads.push_back(std::move(thread));
}

void CResultReports::WaitForAll(DWORD ms)
{
    Reports& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    for (auto& thread : state.threads) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (::WaitForSingleObject(thread.get(), left) != WAIT_OBJECT_0)
            WriteLog(1, "[ReportResult] a report was still going when the run ended: left unsent");
    }
    state.threads.clear();
}
