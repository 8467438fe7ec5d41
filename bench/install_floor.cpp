// The floor of the install benchmark: what the machine and this Wine allow
// for the same job, with nothing of the program's own. Fetches the URLs of a
// list with WinINet, six at a time on six threads, reading 64 KiB at a time
// into files of a folder, and unpacks each ZIP as its download ends; no
// catalogue, no hash, no staging, no placement, no window.
//
//   install_floor URL_LIST FOLDER    prints "seconds N" (the whole job)
#include "zip/ZipArchive.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Job {
    std::vector<std::string> urls;
    std::string folder;
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
};

bool Fetch(HINTERNET internet, const std::string& url, const std::string& path)
{
    HINTERNET request = ::InternetOpenUrlA(internet, url.c_str(), nullptr, 0,
                                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request) return false;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    std::vector<char> buffer(65536);
    while (ok) {
        DWORD read = 0, written = 0;
        if (!::InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) ok = false;
        else if (read == 0) break;
        else ok = ::WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
    }
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    ::InternetCloseHandle(request);
    return ok;
}

bool Unpack(const std::string& archive, const std::string& folder)
{
    zip::Archive reader([](const std::string& path) {
        return ::CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
    }, '\\');
    if (reader.Open(archive) != zip::Result::Ok) return false;
    for (size_t i = 0; i < reader.EntryCount(); ++i)
        if (reader.Extract(i, folder) != zip::Result::Ok) return false;
    return true;
}

DWORD WINAPI Transfers(void* parameter)
{
    Job& job = *static_cast<Job*>(parameter);
    HINTERNET internet = ::InternetOpenA("ZeltoFloor", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    for (size_t index; !job.failed && (index = job.next++) < job.urls.size();) {
        const std::string& url = job.urls[index];
        const std::string path = job.folder + "\\" + url.substr(url.find_last_of('/') + 1);
        const bool zipped = path.size() > 4 && path.compare(path.size() - 4, 4, ".zip") == 0;
        if (!internet || !Fetch(internet, url, path) || (zipped && !Unpack(path, job.folder))) job.failed = true;
    }
    if (internet) ::InternetCloseHandle(internet);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::printf("usage: install_floor URL_LIST FOLDER\n");
        return 2;
    }
    Job job;
    std::ifstream list(argv[1]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) job.urls.push_back(line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    job.folder = argv[2];
    ::CreateDirectoryA(job.folder.c_str(), nullptr);
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    HANDLE threads[6];
    for (HANDLE& thread : threads) thread = ::CreateThread(nullptr, 0, &Transfers, &job, 0, nullptr);
    ::WaitForMultipleObjects(6, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) ::CloseHandle(thread);
    ::QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("%s %.3f %u\n", job.failed ? "failed" : "ok", seconds, static_cast<unsigned>(job.urls.size()));
    return job.failed ? 1 : 0;
}
