#include "install/FilePatch.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpUtil.h"
#include "sys/Sha256.h"
#include "sys/Util.h"
#include "zip/ZstdPatch.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace {

// The whole file at path, when it is no longer than limit.
bool ReadWholeFile(const std::string& path, ULONGLONG limit, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    // An installed DLL may be loaded and its file held open: it is read
    // whatever others do with it.
    zelto::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.get(), &size) || static_cast<ULONGLONG>(size.QuadPart) > limit) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::ReadFile(file.get(), bytes.data() + done, want, &read, nullptr) || read == 0) return false;
        done += read;
    }
    return true;
}

std::string HashOf(const std::vector<uint8_t>& bytes)
{
    CSha256 hash;
    if (!hash.Valid()) return std::string();
    for (size_t done = 0; done < bytes.size();) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!hash.Update(bytes.data() + done, piece)) return std::string();
        done += piece;
    }
    return hash.HexDigest();
}

// The SHA-256 of the file at path, read as ReadWholeFile does; "" when it
// cannot be read or is longer than limit.
std::string HashOfFile(const std::string& path, ULONGLONG limit)
{
    zelto::ScopedFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    CSha256 hash;
    if (!file || !::GetFileSizeEx(file.get(), &size) || static_cast<ULONGLONG>(size.QuadPart) > limit || !hash.Valid())
        return std::string();
    std::vector<uint8_t> buffer(1u << 16);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return std::string();
        if (read == 0) break;
        if (!hash.Update(buffer.data(), read)) return std::string();
    }
    return hash.HexDigest();
}

// Writes bytes to path whole: into a file beside it, flushed, then renamed
// over it, so that path holds either nothing new or all of it.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const std::string part = path + ".zelto-part";
    {
        zelto::ScopedFile file(::CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD written = 0;
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
            if (!::WriteFile(file.get(), bytes.data() + done, piece, &written, nullptr) || written != piece) {
                file.reset();
                ::DeleteFileA(part.c_str());
                return false;
            }
            done += written;
        }
        if (!::FlushFileBuffers(file.get())) {
            file.reset();
            ::DeleteFileA(part.c_str());
            return false;
        }
    }
    if (::MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    ::DeleteFileA(part.c_str());
    return false;
}

// The files whose patches are decoded one at a time (their size as placed).
constexpr DWORD kLargePatchBytes = 16u << 20;

std::mutex& LargePatchLock()
{
    static std::mutex lock;
    return lock;
}

}  // namespace

const std::string& TargetSha256(const CUpdateInfo& file)
{
    return IsArchiveDownload(file.m_szName, file.m_szSource) ? file.m_szFileSha256 : file.m_szSha256;
}

void ChoosePatch(CUpdateInfo& file)
{
    file.m_nPatch = -1;
    if (file.m_arrPatch.empty() || file.m_bDownloaded || file.m_dwFileSize > zip::kMaxPatchWindow) return;
    const std::string hash = HashOfFile(file.m_szDestFileName, zip::kMaxPatchWindow);
    for (size_t i = 0; i < file.m_arrPatch.size() && !hash.empty(); ++i) {
        if (CSha256::Same(file.m_arrPatch[i].from, hash)) {
            file.m_nPatch = static_cast<int>(i);
            return;
        }
    }
}

DWORD PlannedDownloadSize(const CUpdateInfo& file)
{
    if (file.m_nPatch >= 0) return file.m_arrPatch[static_cast<size_t>(file.m_nPatch)].size;
    return StatedDownloadSize(file);
}

bool StageFromPatch(CUpdateInfo& file, const std::string& staged, HINTERNET internet, HWND progressWnd,
                    HANDLE cancelEvent)
{
    if (file.m_nPatch < 0 || static_cast<size_t>(file.m_nPatch) >= file.m_arrPatch.size()) return false;
    const CFilePatch& patch = file.m_arrPatch[static_cast<size_t>(file.m_nPatch)];
    const std::string patchPath = staged + ".patch";
    const LastErrorPair before = LastError;
    const char* failure = nullptr;
    std::vector<uint8_t> base, delta, result;
    zip::PatchResult applied = zip::PatchResult::Ok;

    WriteLog(2, "[DownloadInstallFiles] Download Patch %s -> %s", patch.url.c_str(), patchPath.c_str());
    if (!CUtil::MakePlainFolder(patchPath.substr(0, patchPath.find_last_of('\\')))) {
        failure = "its folder cannot be made";
    } else if (!CHttpUtil::DownloadFile(internet, patchPath.c_str(), patch.url.c_str(), TRUE, progressWnd, cancelEvent,
                                        patch.sha256.c_str(), patch.size)) {
        failure = "the download failed";
    } else {
        // A large patch holds the installed file, the patch and the result
        // in memory: one at a time, so that transfers side by side do not
        // exhaust a 32-bit process. Memory that cannot be had is a failure
        // of the patch, never of the run.
        std::unique_lock<std::mutex> oneLarge(LargePatchLock(), std::defer_lock);
        if (file.m_dwFileSize >= kLargePatchBytes) oneLarge.lock();
        try {
            if (!ReadWholeFile(patchPath, patch.size, delta)) {
                failure = "it cannot be read";
            } else if (!ReadWholeFile(file.m_szDestFileName, zip::kMaxPatchWindow, base) ||
                       !CSha256::Same(HashOf(base), patch.from)) {
                failure = "the installed file changed";
            } else if ((applied = zip::ApplyZstdPatch(base, delta, file.m_dwFileSize, result)) != zip::PatchResult::Ok) {
                failure = zip::PatchResultText(applied);
            } else if (!CSha256::Same(HashOf(result), TargetSha256(file))) {
                failure = "the result's SHA-256 differs";
            } else if (!WriteWholeFile(staged, result)) {
                failure = "the result cannot be written";
            }
        } catch (const std::bad_alloc&) {
            failure = "out of memory";
        }
        // What it held goes before the whole file is fetched.
        std::vector<uint8_t>().swap(base);
        std::vector<uint8_t>().swap(delta);
        std::vector<uint8_t>().swap(result);
    }
    ::DeleteFileA(patchPath.c_str());
    if (failure) {
        // The whole file follows in this run: the patch's failure is no
        // failure of the run.
        LastError = before;
        WriteLog(1, "[DownloadInstallFiles] Patch Failed (%s): %s; the whole file is fetched", patch.url.c_str(), failure);
        return false;
    }
    WriteLog(2, "[DownloadInstallFiles] Patch Applied (%s)", patch.url.c_str());
    return true;
}
