#include "install/DownloadWorker.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "install/FilePatch.h"
#include "install/Staging.h"
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"
#include "sys/Util.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

namespace {

// Files that land on the same staged name are fetched one after the other
// by one transfer, in catalogue order, as they always were; the FILEs one
// archive delivers share its staged name, so it is fetched and unpacked once.
std::vector<std::vector<CUpdateInfo*>> StagingGroups(UpdateItems& items)
{
    std::vector<std::vector<CUpdateInfo*>> groups;
    std::vector<std::string> names;
    for (auto& item : items) {
        for (auto& file : item->m_arrUpdateFile) {
            if (file->m_bDownloaded) continue;
            const std::string staged = StagedPath(*file);
            size_t at = 0;
            while (at < names.size() && lstrcmpiA(names[at].c_str(), staged.c_str()) != 0) ++at;
            if (at == names.size()) {
                names.push_back(staged);
                groups.emplace_back();
            }
            groups[at].push_back(file.get());
        }
    }
    return groups;
}

// What the transfers share: the next group to take, the stop signal, and the
// first failure's LastError (the others only stopped because of it).
struct SharedRun {
    std::vector<std::vector<CUpdateInfo*>> groups;
    std::atomic<size_t> next{0};
    zelto::ScopedKernelHandle stop{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::mutex lock;
    bool failed = false;
    LastErrorPair firstError = {0, 0};
    HWND progressWnd = nullptr;
};

void TransferGroups(SharedRun& run);

// A transfer thread: whatever escapes it stops every transfer and fails the
// run as the first failure would.
DWORD WINAPI Transfers(void* parameter)
{
    SharedRun& run = *static_cast<SharedRun*>(parameter);
    try {
        TransferGroups(run);
    } catch (...) {
        WriteLog(1, "[DownloadAllFiles] a transfer stopped on an exception");
        std::lock_guard<std::mutex> guard(run.lock);
        if (!run.failed) run.firstError = {ERR_LOCAL_FILE, 0};
        run.failed = true;
        ::SetEvent(run.stop.get());
    }
    return 0;
}

void TransferGroups(SharedRun& run)
{
    zelto::ScopedInternet internet = zelto::OpenInternetLogged("[DownloadInstallFiles] InternetOpen Failed, Error Code = %d");
    for (;;) {
        const size_t index = run.next++;
        if (index >= run.groups.size() || ::WaitForSingleObject(run.stop.get(), 0) == WAIT_OBJECT_0) break;
        bool unpacked = false;   // the group's archive is unpacked: its other FILEs are staged with it
        for (CUpdateInfo* file : run.groups[index]) {
            if (unpacked) file->m_bDownloaded = 1;
            const bool fetches = !file->m_bDownloaded;
            const ULONGLONG began = ::GetTickCount64();
            const ULONGLONG bytesBefore = CHttpUtil::BytesReceivedOnThisThread();
            const bool ok = internet && DownloadInstallFiles(*file, internet.get(), run.progressWnd, run.stop.get());
            if (fetches) {
                file->m_dwFetchMs = static_cast<DWORD>(::GetTickCount64() - began);
                file->m_qwFetchBytes = CHttpUtil::BytesReceivedOnThisThread() - bytesBefore;
            }
            unpacked = ok && IsArchiveDownload(*file) && !file->m_bPatched;
            if (!ok) {
                std::lock_guard<std::mutex> guard(run.lock);
                // A transfer stopped by another's failure is no failure of its own.
                if (::WaitForSingleObject(run.stop.get(), 0) != WAIT_OBJECT_0) {
                    if (!run.failed) run.firstError = LastError;
                    file->m_dwFetchError = LastError.dwAppError ? LastError.dwAppError : ERR_LOCAL_FILE;
                    file->m_dwFetchSysError = LastError.dwSysError;
                }
                run.failed = true;
                ::SetEvent(run.stop.get());
            }
            ::SendMessageA(run.progressWnd, UM_FILE_DOWNLOADED, 0, 0);
            if (!ok) break;
        }
    }
}

// The sizes of a catalogue that does not state them all, asked of the server
// (HEAD) as many at a time as files are fetched: one after another, each
// would cost the run a round trip before the first byte moves.
struct SizeQuestions {
    std::vector<CUpdateInfo*> files;
    std::atomic<size_t> next{0};
    HINTERNET internet = nullptr;
};

DWORD WINAPI AskNextSizes(void* parameter)
{
    SizeQuestions& questions = *static_cast<SizeQuestions*>(parameter);
    for (size_t at; (at = questions.next++) < questions.files.size();)
        GetFileDownloadSize(*questions.files[at], questions.internet);
    return 0;
}

void AskSizes(UpdateItems& items, HINTERNET internet)
{
    SizeQuestions questions;
    questions.internet = internet;
    for (auto& item : items)
        for (auto& file : item->m_arrUpdateFile) questions.files.push_back(file.get());
    std::vector<zelto::ScopedKernelHandle> helpers;
    for (size_t i = 1; i < std::min<size_t>(kParallelDownloads, questions.files.size()); ++i) {
        zelto::ScopedKernelHandle helper(::CreateThread(nullptr, 0, &AskNextSizes, &questions, 0, nullptr));
        if (!helper) break;   // fewer at once: this thread asks the rest
        helpers.push_back(std::move(helper));
    }
    AskNextSizes(&questions);
    for (auto& helper : helpers) ::WaitForSingleObject(helper.get(), INFINITE);
}

}  // namespace

void SeparateStagedNames(UpdateItems& items)
{
    std::vector<std::string> taken;
    auto isTaken = [&taken](const std::string& path) {
        for (const std::string& other : taken)
            if (lstrcmpiA(other.c_str(), path.c_str()) == 0) return true;
        return false;
    };
    // A current copy found staged keeps its place.
    for (auto& item : items)
        for (auto& file : item->m_arrUpdateFile)
            if (file->m_bDownloaded && !IsArchiveDownload(*file)) taken.push_back(UnpackedPath(*file));
    int next = 0;
    for (auto& item : items) {
        for (auto& file : item->m_arrUpdateFile) {
            if (file->m_bDownloaded || IsArchiveDownload(*file)) continue;
            file->m_szStagingFolder.clear();
            if (!isTaken(StagedPath(*file)) && !isTaken(UnpackedPath(*file))) {
                taken.push_back(StagedPath(*file));
                taken.push_back(UnpackedPath(*file));
                continue;
            }
            const std::string folder = CUtil::GetStagingFolder() + "\\same-" + std::to_string(++next);
            if (!CUtil::MakePlainFolder(folder)) {
                WriteLog(1, "[SeparateStagedNames] %s cannot be made, or is a link", folder.c_str());
                continue;
            }
            file->m_szStagingFolder = folder;
            WriteLog(2, "[SeparateStagedNames] %s (item %s) is staged in %s: another file of the run has its name",
                     file->m_szName.c_str(), item->m_strName.c_str(), folder.c_str());
        }
    }
}

void ChoosePatches(UpdateItems& items)
{
    for (auto& item : items)
        for (auto& file : item->m_arrUpdateFile) ChoosePatch(*file);
    // An archive some file of the run needs whole, or one staged already,
    // delivers every file it holds: none of them is patched.
    for (auto& group : StagingGroups(items)) {
        if (!IsArchiveDownload(*group.front())) continue;
        bool whole = false;
        for (CUpdateInfo* file : group) whole = whole || file->m_nPatch < 0;
        whole = whole || ArchiveStaged(*group.front());
        if (whole)
            for (CUpdateInfo* file : group) file->m_nPatch = -1;
    }
    for (auto& item : items)
        for (auto& file : item->m_arrUpdateFile)
            if (file->m_nPatch >= 0)
                WriteLog(2, "[ChoosePatches] %s: by patch %s", file->m_szName.c_str(),
                         file->m_arrPatch[static_cast<size_t>(file->m_nPatch)].url.c_str());
}

DWORD PrepareDownloadSizes(UpdateItems& items, HINTERNET internet)
{
    SeparateStagedNames(items);
    ChoosePatches(items);
    bool allStated = true;
    for (auto& item : items)
        for (auto& file : item->m_arrUpdateFile)
            if (!file->m_bDownloaded && PlannedDownloadSize(*file) == 0) allStated = false;
    DWORD total = 0;
    if (!allStated) {
        AskSizes(items, internet);
        for (auto& item : items)
            for (auto& file : item->m_arrUpdateFile) total += file->m_dwDownloadSize;
        return total;
    }
    std::vector<std::string> counted;   // an archive shared by several FILEs counts once
    for (auto& item : items) {
        for (auto& file : item->m_arrUpdateFile) {
            file->m_dwDownloadSize = file->m_bDownloaded ? 0 : PlannedDownloadSize(*file);
            if (file->m_dwDownloadSize && IsArchiveDownload(*file) && file->m_nPatch < 0) {
                const std::string staged = StagedPath(*file);
                bool seen = false;
                for (const std::string& path : counted) seen = seen || lstrcmpiA(path.c_str(), staged.c_str()) == 0;
                if (seen) file->m_dwDownloadSize = 0;
                else counted.push_back(staged);
            }
            total += file->m_dwDownloadSize;
        }
    }
    WriteLog(2, "[PrepareDownloadSizes] %u bytes, as the catalogue states them", static_cast<unsigned>(total));
    return total;
}

BOOL DownloadAllFiles(UpdateItems& items, HWND progressWnd, HANDLE userCancel)
{
    SharedRun run;
    run.groups = StagingGroups(items);
    run.progressWnd = progressWnd;
    // Files staged already count as done at once.
    for (auto& item : items)
        for (auto& file : item->m_arrUpdateFile)
            if (file->m_bDownloaded) ::SendMessageA(progressWnd, UM_FILE_DOWNLOADED, 0, 0);
    if (!run.stop) {
        RecordLastError(ERR_LOCAL_FILE, ::GetLastError());
        return FALSE;
    }
    const size_t count = std::min<size_t>(kParallelDownloads, run.groups.size());
    std::vector<zelto::ScopedKernelHandle> transfers;
    for (size_t i = 0; i < count; ++i) {
        DWORD id = 0;
        zelto::ScopedKernelHandle thread(::CreateThread(nullptr, 0, &Transfers, &run, 0, &id));
        if (!thread) {
            // Fewer transfers at once: the ones that started take every file.
            WriteLog(1, "[DownloadAllFiles] CreateThread Failed, Error Code = %d", ::GetLastError());
            break;
        }
        transfers.push_back(std::move(thread));
    }
    if (transfers.empty() && count > 0) {
        RecordLastError(ERR_LOCAL_FILE, ::GetLastError());
        return FALSE;
    }
    // The user's cancel or a close request stops every transfer; each ends
    // within its read time-out at the latest, and all are waited for.
    for (auto& thread : transfers) {
        while (::WaitForSingleObject(thread.get(), 50) == WAIT_TIMEOUT) {
            if (userCancel && ::WaitForSingleObject(userCancel, 0) == WAIT_OBJECT_0) ::SetEvent(run.stop.get());
        }
    }
    if (run.failed && run.firstError.dwAppError) RecordLastError(run.firstError.dwAppError, run.firstError.dwSysError);
    return !run.failed;
}
