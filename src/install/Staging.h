// Downloading an item's files into the staging folder, unpacking archives,
// and stamping a placed file with the catalogue's time.
#pragma once

#include "catalogue/UpdateSet.h"

#include <wininet.h>

#include <memory>
#include <string>
#include <vector>

// Messages between the download worker and the install progress dialog
// (UM_DOWNLOAD_PROGRESS is the HTTP client's).
constexpr UINT UM_FILE_DOWNLOADED = WM_USER + 106;    // one more file is staged (or failed)
constexpr UINT UM_DOWNLOAD_COMPLETE = WM_USER + 107;  // wParam TRUE when an item failed
constexpr UINT UM_SETUP_COMPLETE = WM_USER + 108;
constexpr UINT UM_EXTRACT_PROGRESS = WM_USER + 109;   // wParam 1 name / 2 percent; a negative answer aborts
constexpr WPARAM DOWNLOAD_PROGRESS_TOTAL = 0;         // lParam: total bytes of the run
constexpr WPARAM DOWNLOAD_PROGRESS_URL = 1;           // lParam: the URL text
constexpr WPARAM DOWNLOAD_PROGRESS_SIZE = 2;          // lParam: the file's size

// SOURCE_WIN9X on the Windows 9x family when present, else SOURCE.
std::string DownloadUrl(const CUpdateInfo& file);
// Where the download lands: for a plain download the staging folder + NAME's
// base name + the URL's extension; for an archive "zip-<key>.zip" in the
// staging folder, the key naming the archive's URL and SHA256, so that the
// FILEs one archive delivers share one download and two archives never do.
std::string StagedPath(const CUpdateInfo& file);
// The folder an archive download unpacks into ("zip-<key>" beside it).
std::string ArchiveFolder(const CUpdateInfo& file);
// Where the file's bytes lie once staged: the staging folder + NAME for a
// plain download, the archive's own folder + NAME for an archive's entry.
std::string UnpackedPath(const CUpdateInfo& file);
// True when another file of the run's items lies staged at the same path
// (FILEs of several items taken from one archive): the staged file must stay
// for it, so it is copied into place, never moved.
bool StagedBytesShared(const CUpdateInfo& file);
// Removes the folder and the archive an archive download left (after its
// files were placed); nothing for a plain download.
void RemoveArchiveStaging(const CUpdateInfo& file);
// After the installation: the archives of the run's items, but those an
// item that failed needs again (its next run unpacks them without a request).
void RemoveUnpackedArchives(const std::vector<std::unique_ptr<CUpdateSet>>& items,
                            const std::vector<const CUpdateSet*>& failed);
// After a removal of every item: what the staging folder holds goes (the run's
// own lock stays until the run ends), but not while an operation pending for
// the restart reads from it.
void EmptyStagingFolder();
// At the run's end, once its lock is gone: the staging folder, when this run
// emptied it and nothing came into it since.
void RemoveEmptiedStagingFolder();

// An archive a run fetched before (kept until its files are placed) that
// counts: its bytes are the published ones (SHA256).
bool ArchiveStaged(const CUpdateInfo& file);

// True when the file is unpacked from a ZIP download (SOURCE ends in ".zip",
// NAME has another extension).
bool IsArchiveDownload(const CUpdateInfo& file);
// The most bytes the file's download may bring: the size the catalogue
// states for it (FILESIZE, or ARCHIVESIZE for an archive), else the ceiling
// of every download.
ULONGLONG DownloadBound(const CUpdateInfo& file);

DWORD GetItemDownloadSize(CUpdateSet& item, HINTERNET internet);
DWORD GetFileDownloadSize(CUpdateInfo& file, HINTERNET internet);
// Fetches one file into the staging folder (unless it is staged already) and
// unpacks it when it comes in an archive into the archive's own folder; an
// archive already staged whose bytes match its SHA256 is unpacked without a
// request. TRUE when it is staged.
BOOL DownloadInstallFiles(CUpdateInfo& file, HINTERNET internet, HWND progressWnd, HANDLE cancelEvent);

// Extracts the whole archive into folder (made when missing, never a link);
// TRUE when every entry was.
BOOL UnpackArchive(const std::string& archivePath, const std::string& folder, HWND wnd, UINT message);

// Gives the placed file the catalogue's FILETIME (when it has one).
void StampFileTime(const CUpdateInfo& file, const std::string& destination);
