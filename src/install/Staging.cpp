#include "install/Staging.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "catalogue/UpdateInfoMgr.h"
#include "install/FilePatch.h"
#include "install/RestartOperations.h"
#include "net/HttpUtil.h"
#include "sys/Sha256.h"
#include "sys/Util.h"
#include "zip/ZipArchive.h"

#include <cmath>

namespace {

// The extension of the last path segment, with its dot ("" when none).
std::string Extension(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    return path.substr(dot);
}

std::string BaseName(const std::string& name)
{
    std::string ext = Extension(name);
    return name.substr(0, name.size() - ext.size());
}

// Reports archive progress to the dialog: the file name once, then percents.
class CMyZipCallback {
public:
    CMyZipCallback(HWND wnd, UINT message) : m_hWnd(wnd), m_nMessage(message) {}
    bool Callback(const std::string& name, uint64_t done, uint64_t total)
    {
        if (m_bFirst) {
            ::SendMessageA(m_hWnd, m_nMessage, 1, reinterpret_cast<LPARAM>(name.c_str()));
            m_bFirst = false;
        }
        double percent = total ? static_cast<double>(done) / static_cast<double>(total) * 100.0 : 100.0;
        LRESULT answer = ::SendMessageA(m_hWnd, m_nMessage, 2, static_cast<LPARAM>(std::floor(percent + 0.5)));
        return answer >= 0;
    }

private:
    HWND m_hWnd;
    UINT m_nMessage;
    bool m_bFirst = true;
};

}  // namespace

std::string DownloadUrl(const CUpdateInfo& file)
{
    if (!file.m_szSourceWin9x.empty() && CUtil::Folders().osVersion.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return file.m_szSourceWin9x;
    return file.m_szSource;
}

bool IsArchiveDownload(const CUpdateInfo& file)
{
    return IsArchiveDownload(file.m_szName, DownloadUrl(file));
}

namespace {

// "zip-" and 16 hexadecimal digits of the SHA-256 of the archive's URL (in
// lower case) and its stated SHA256: one name per archive download.
std::string ArchiveKey(const CUpdateInfo& file)
{
    std::string text = DownloadUrl(file) + "\n" + file.m_szSha256;
    CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    CSha256 hash;
    std::string digest = hash.Valid() && hash.Update(text.data(), static_cast<DWORD>(text.size())) ? hash.HexDigest() : "";
    if (digest.size() < 16) {
        // No hash from the system: a plain FNV-1a of the same text.
        unsigned long long value = 1469598103934665603ull;
        for (unsigned char c : text) value = (value ^ c) * 1099511628211ull;
        char hex[17];
        wsprintfA(hex, "%08lx%08lx", static_cast<unsigned long>(value >> 32), static_cast<unsigned long>(value));
        digest = hex;
    }
    return "zip-" + digest.substr(0, 16);
}

}  // namespace

namespace {
std::string PlainStagingFolder(const CUpdateInfo& file)
{
    return file.m_szStagingFolder.empty() ? CUtil::GetStagingFolder() : file.m_szStagingFolder;
}
}  // namespace

std::string StagedPath(const CUpdateInfo& file)
{
    if (IsArchiveDownload(file)) return ArchiveFolder(file) + ".zip";
    std::string url = DownloadUrl(file);
    size_t end = url.find_first_of("?#");
    return PlainStagingFolder(file) + "\\" + BaseName(file.m_szName) + Extension(url.substr(0, end));
}

std::string ArchiveFolder(const CUpdateInfo& file)
{
    return CUtil::GetStagingFolder() + "\\" + ArchiveKey(file);
}

std::string UnpackedPath(const CUpdateInfo& file)
{
    return (IsArchiveDownload(file) ? ArchiveFolder(file) : PlainStagingFolder(file)) + "\\" + file.m_szName;
}

void RemoveArchiveStaging(const CUpdateInfo& file)
{
    if (!IsArchiveDownload(file)) return;
    const std::string folder = ArchiveFolder(file), archive = StagedPath(file);
    ::DeleteFileA(archive.c_str());
    // A file of the folder waits to move into place at the restart: the
    // folder stays until then (the next unpacking of the archive empties it).
    if (PendingSourceIn(folder)) {
        WriteLog(2, "[RemoveArchiveStaging] %s: kept for the restart", folder.c_str());
        return;
    }
    if (::GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES) CUtil::RemoveFolderTree(folder);
}

bool ArchiveStaged(const CUpdateInfo& file)
{
    return IsArchiveDownload(file) && !file.m_szSha256.empty() &&
           CSha256::Same(CSha256::OfFile(StagedPath(file).c_str()), file.m_szSha256);
}

ULONGLONG DownloadBound(const CUpdateInfo& file)
{
    const DWORD stated = StatedDownloadSize(file);
    return stated ? stated : CHttpUtil::kMaxDownloadBytes;
}

DWORD GetFileDownloadSize(CUpdateInfo& file, HINTERNET internet)
{
    if (file.m_bDownloaded) file.m_dwDownloadSize = 0;
    else if (file.m_nPatch >= 0) file.m_dwDownloadSize = PlannedDownloadSize(file);   // the catalogue states it
    else file.m_dwDownloadSize = CHttpUtil::GetDownloadFileSize(internet, DownloadUrl(file).c_str());
    return file.m_dwDownloadSize;
}

DWORD GetItemDownloadSize(CUpdateSet& item, HINTERNET internet)
{
    DWORD total = 0;
    for (auto& file : item.m_arrUpdateFile) total += GetFileDownloadSize(*file, internet);
    return total;
}

BOOL DownloadInstallFiles(CUpdateInfo& file, HINTERNET internet, HWND progressWnd, HANDLE cancelEvent)
{
    const std::string url = DownloadUrl(file), staged = StagedPath(file);
    if (file.m_bDownloaded) return TRUE;
    const bool archive = IsArchiveDownload(file);
    const bool kept = ArchiveStaged(file);
    // A patch against the installed bytes first; when it fails, the whole
    // file (its whole size now counts).
    if (!kept && file.m_nPatch >= 0) {
        const CFilePatch& patch = file.m_arrPatch[static_cast<size_t>(file.m_nPatch)];
        ::SendMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_SIZE, patch.size);
        ::SendMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_URL, reinterpret_cast<LPARAM>(patch.url.c_str()));
        if (StageFromPatch(file, UnpackedPath(file), internet, progressWnd, cancelEvent)) {
            file.m_bDownloaded = file.m_bPatched = 1;
            return TRUE;
        }
        file.m_nPatch = -1;
        file.m_dwDownloadSize = StatedDownloadSize(file);
    }
    if (kept) {
        WriteLog(2, "[DownloadInstallFiles] Temp File exist (%s)", staged.c_str());
    } else {
        WriteLog(2, "[DownloadInstallFiles] Download File %s -> %s", url.c_str(), staged.c_str());
        ::SendMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_SIZE, file.m_dwDownloadSize);
        ::SendMessageA(progressWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_URL, reinterpret_cast<LPARAM>(url.c_str()));
        if (!CHttpUtil::DownloadFile(internet, staged.c_str(), url.c_str(), TRUE, progressWnd, cancelEvent,
                                     file.m_szSha256.c_str(), DownloadBound(file))) {
            WriteLog(1, "[DownloadInstallFiles] Download Failed (%s)", url.c_str());
            return FALSE;
        }
        WriteLog(2, "[DownloadInstallFiles] Download Succeed (%s)", url.c_str());
    }
    if (!archive) {
        file.m_bDownloaded = 1;
        return TRUE;
    }

    // Unpacked afresh into the archive's own folder: whatever an earlier run
    // left there is gone first.
    const std::string folder = ArchiveFolder(file);
    if (::GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES) CUtil::RemoveFolderTree(folder);
    if (!UnpackArchive(staged, folder, progressWnd, UM_EXTRACT_PROGRESS)) {
        RecordLastError(ERR_EXTRACT, ::GetLastError());
        WriteLog(1, "[DownloadInstallFiles] Zip Extract Failed (%s)", staged.c_str());
        RemoveArchiveStaging(file);
        return FALSE;
    }
    file.m_bDownloaded = 1;
    return TRUE;
}

bool StagedBytesShared(const CUpdateInfo& file)
{
    const std::string path = UnpackedPath(file);
    for (const auto& item : CUpdateInfoMgr::GetInstance()->Items())
        for (const auto& other : item->m_arrUpdateFile)
            if (other.get() != &file && lstrcmpiA(UnpackedPath(*other).c_str(), path.c_str()) == 0) return true;
    return false;
}

void RemoveUnpackedArchives(const std::vector<std::unique_ptr<CUpdateSet>>& items,
                            const std::vector<const CUpdateSet*>& failed)
{
    // An archive stays staged while an item that needs it has not installed
    // (the next run unpacks it again without a request); the others go.
    std::vector<std::string> kept;
    for (const CUpdateSet* item : failed)
        for (const auto& file : item->m_arrUpdateFile)
            if (IsArchiveDownload(*file)) kept.push_back(StagedPath(*file));
    for (const auto& item : items) {
        for (const auto& file : item->m_arrUpdateFile) {
            // A folder of its own for a download that shared its name goes
            // once its file has moved into place.
            if (!file->m_szStagingFolder.empty()) ::RemoveDirectoryA(file->m_szStagingFolder.c_str());
            if (!IsArchiveDownload(*file)) continue;
            const std::string staged = StagedPath(*file);
            bool keep = false;
            for (const std::string& path : kept) keep = keep || lstrcmpiA(path.c_str(), staged.c_str()) == 0;
            if (!keep) RemoveArchiveStaging(*file);
        }
    }
}

namespace {

// An entry name flagged as UTF-8 in code page 949, the file system's text;
// false when a character has no place in it.
bool Utf8To949(const std::string& utf8, std::string& local)
{
    if (utf8.empty()) {
        local.clear();
        return true;
    }
    int wide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::wstring text(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &text[0], wide);
    BOOL lossy = FALSE;
    int bytes = ::WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, text.data(), wide, nullptr, 0, nullptr, &lossy);
    if (bytes <= 0 || lossy) return false;
    local.assign(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, text.data(), wide, &local[0], bytes, nullptr, &lossy);
    return !lossy;
}

}  // namespace

BOOL UnpackArchive(const std::string& archivePath, const std::string& folder, HWND wnd, UINT message)
{
    if (::GetFileAttributesA(archivePath.c_str()) == INVALID_FILE_ATTRIBUTES) return TRUE;
    CMyZipCallback callback(wnd, message);
    // A folder planted where one is made may be a junction or link to
    // anywhere. Nothing is written through one.
    zip::Archive archive(
        [](const std::string& path) {
            if (!::CreateDirectoryA(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
            DWORD attributes = ::GetFileAttributesA(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
            WriteLog(1, "[UnpackArchive] %s is a link or junction: nothing is written through it", path.c_str());
            return false;
        },
        '\\');
    archive.SetUtf8Converter(Utf8To949);
    if (archive.Open(archivePath) != zip::Result::Ok || archive.EntryCount() == 0) return FALSE;
    zip::Progress progress = nullptr;
    if (wnd && message)
        progress = [&](const std::string& name, uint64_t done, uint64_t total) { return callback.Callback(name, done, total); };
    if (!CUtil::MakePlainFolder(folder)) {
        WriteLog(1, "[UnpackArchive] %s cannot be made, or is a link: nothing is unpacked", folder.c_str());
        return FALSE;
    }
    for (size_t i = 0; i < archive.EntryCount(); ++i) {
        zip::Result result = archive.Extract(i, folder, progress);
        if (result != zip::Result::Ok) {
            WriteLog(1, "[UnpackArchive] %s: %s", archive.GetEntry(i).name.c_str(), zip::ResultText(result));
            return FALSE;
        }
    }
    return TRUE;
}

void StampFileTime(const CUpdateInfo& file, const std::string& destination)
{
    if (file.m_ftFileTime == 0) return;
    zelto::ScopedFile handle(::CreateFileA(destination.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        DWORD error = ::GetLastError();
        RecordLastError(ERR_LOCAL_FILE, error);
        WriteLog(1, "[DownloadInstallFiles] CreateFile Failed (%s), Error Code = %d", destination.c_str(), error);
        return;
    }
    FILETIME time = {static_cast<DWORD>(file.m_ftFileTime), static_cast<DWORD>(file.m_ftFileTime >> 32)};
    if (!::SetFileTime(handle.get(), nullptr, nullptr, &time))
        WriteLog(1, "[DownloadInstallFiles] SetFileTime Failed (%s), Error Code = %d", destination.c_str(),
                 ::GetLastError());
}

namespace {
bool g_stagingEmptied = false;
}

void EmptyStagingFolder()
{
    const std::string staging = CUtil::GetStagingFolder();
    if (staging.empty() || ::GetFileAttributesA(staging.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (PendingSourceIn(staging)) {
        WriteLog(1, "[EmptyStagingFolder] %s: kept for the restart", staging.c_str());
        return;
    }
    CUtil::RemoveFolderTree(staging);   // all but the lock, which this run holds
    g_stagingEmptied = true;
}

void RemoveEmptiedStagingFolder()
{
    if (!g_stagingEmptied) return;
    // Fails when another run has begun in it since (its lock is there).
    const std::string staging = CUtil::GetStagingFolder();
    if (::RemoveDirectoryA(staging.c_str())) WriteLog(2, "[RemoveEmptiedStagingFolder] %s removed", staging.c_str());
}
