// Download benchmark: DownloadFile (with a progress window pumped by the
// user-interface thread and a cancel event) against a bare WinINet read loop
// with the same 4,096-byte buffer, in one process, on the same URL.
//
//   download_bench speed URL RUNS [SHA256]
//                                    prints the median seconds of each and the ratio
//                                    (with SHA256 the product's transfer checks the hash)
//   download_bench peak URL          downloads once, prints the peak working set
//   download_bench pair URL_A URL_B RUNS
//                                    DownloadFile on each, alternating: the medians and
//                                    the ratio B / A (https against http, say)
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kLocal[] = "bench_download.bin";

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b)
{
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

// The floor for this design: open, read 4,096 bytes at a time, write.
bool BareLoop(const char* url)
{
    zelto::ScopedInternet internet = zelto::OpenInternet();
    zelto::ScopedInternet request = zelto::OpenUrl(internet.get(), url);
    if (!request) return false;
    zelto::ScopedFile file(::CreateFileA(kLocal, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    BYTE buffer[4096];
    DWORD read = 0;
    while (::InternetReadFile(request.get(), buffer, sizeof(buffer), &read) && read) {
        DWORD written = 0;
        ::WriteFile(file.get(), buffer, read, &written, nullptr);
    }
    return true;
}

// Runs one transfer on a worker thread, as the install worker does, while
// this thread pumps the window's messages as the dialog does; counts the
// bytes that the progress messages report.
bool OnWorker(const char* url, bool product, DWORD* bytes, const char* sha256 = nullptr)
{
    zelto::ScopedInternet internet = zelto::OpenInternet();
    HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    zelto::ScopedKernelHandle cancel(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    BOOL ok = FALSE;
    bool done = false;
    std::thread worker([&] {
        ok = product ? CHttpUtil::DownloadFile(internet.get(), kLocal, url, TRUE, window, cancel.get(), sha256)
                     : BareLoop(url);
        done = true;
        ::PostMessageA(window, WM_NULL, 0, 0);
    });
    *bytes = 0;
    MSG msg;
    while (!done || ::PeekMessageA(&msg, window, 0, 0, PM_NOREMOVE)) {
        if (::GetMessageA(&msg, window, 0, 0) <= 0) break;
        if (msg.message == UM_DOWNLOAD_PROGRESS) *bytes += static_cast<DWORD>(msg.lParam);
    }
    worker.join();
    ::DestroyWindow(window);
    return ok;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::string(argv[1]) == "speed") {
        const char* url = argv[2];
        int runs = std::max(1, std::atoi(argv[3]));
        const char* sha256 = argc >= 5 ? argv[4] : nullptr;
        // DownloadFile with the hash check, DownloadFile without it, and the
        // bare loop, in turn; which goes first moves round from run to run.
        std::vector<double> times[3];
        DWORD bytes = 0;
        for (int i = 0; i < runs; ++i) {
            for (int k = 0; k < 3; ++k) {
                const int which = (i + k) % 3;
                LARGE_INTEGER a, b;
                DWORD reported = 0;
                ::QueryPerformanceCounter(&a);
                if (!OnWorker(url, which != 2, &reported, which == 0 ? sha256 : nullptr)) {
                    std::printf("download failed\n");
                    return 1;
                }
                ::QueryPerformanceCounter(&b);
                times[which].push_back(Seconds(a, b));
                if (which == 0) bytes = reported;
            }
        }
        ::DeleteFileA(kLocal);
        const double p = Median(times[0]), u = Median(times[1]), q = Median(times[2]);
        std::printf("bytes %lu, runs %d\n", static_cast<unsigned long>(bytes), runs);
        std::printf("DownloadFile, SHA-256 checked  %.3f s  (%.1f MiB/s)\n", p, bytes / p / 1048576.0);
        std::printf("DownloadFile, no hash          %.3f s  (%.1f MiB/s)\n", u, bytes / u / 1048576.0);
        std::printf("bare loop (4 KiB reads)        %.3f s  (%.1f MiB/s)\n", q, bytes / q / 1048576.0);
        std::printf("ratio with its hash / without = %.3f (target <= 1.10)\n", p / u);
        std::printf("ratio DownloadFile / bare loop = %.3f (target <= 1.10)\n", p / q);
        return 0;
    }
    if (argc >= 5 && std::string(argv[1]) == "pair") {
        int runs = std::max(1, std::atoi(argv[4]));
        std::vector<double> a, b;
        DWORD bytes = 0;
        for (int i = 0; i < runs; ++i) {
            for (int k = 0; k < 2; ++k) {
                const bool first = (k == 0) == (i % 2 == 0);
                LARGE_INTEGER t0, t1;
                ::QueryPerformanceCounter(&t0);
                if (!OnWorker(first ? argv[2] : argv[3], true, &bytes)) { std::printf("download failed\n"); return 1; }
                ::QueryPerformanceCounter(&t1);
                (first ? a : b).push_back(Seconds(t0, t1));
            }
        }
        ::DeleteFileA(kLocal);
        double p = Median(a), q = Median(b);
        std::printf("%s median %.3f s (%.1f MiB/s)\n", argv[2], p, bytes / p / 1048576.0);
        std::printf("%s median %.3f s (%.1f MiB/s)\n", argv[3], q, bytes / q / 1048576.0);
        std::printf("ratio second / first = %.3f\n", q / p);
        return 0;
    }
    if (argc >= 3 && std::string(argv[1]) == "peak") {
        DWORD bytes = 0;
        bool ok = OnWorker(argv[2], true, &bytes);
        ::DeleteFileA(kLocal);
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
        std::printf("%s bytes %lu peak_working_set %lu\n", ok ? "ok" : "failed", static_cast<unsigned long>(bytes),
                    static_cast<unsigned long>(counters.PeakWorkingSetSize));
        return ok ? 0 : 1;
    }
    std::printf("usage: download_bench speed URL RUNS | peak URL\n");
    return 2;
}
