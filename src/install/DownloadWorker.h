// The download phase of an install run: every file of the run's items that
// is not staged yet is fetched into the staging folder, up to
// kParallelDownloads at once, each on its own connection with its own
// retries, resume and hash check.
#pragma once

#include "catalogue/UpdateSet.h"

#include <wininet.h>

#include <memory>
#include <vector>

// Four transfers at once: enough to keep a link with a round trip of 50 to
// 100 ms busy with files of a few hundred KiB (a browser opens six per host),
// few enough that a content server sees no more connections from a desktop
// than from a browser on the portal, and that a 2-core desktop keeps up with
// the hashing and unpacking.
constexpr int kParallelDownloads = 4;

using UpdateItems = std::vector<std::unique_ptr<CUpdateSet>>;

// The bytes the run will fetch, and each file's m_dwDownloadSize: from the
// catalogue when it states the size of every download (no request is sent),
// else asked of the server with a HEAD per file, as of old.
DWORD PrepareDownloadSizes(UpdateItems& items, HINTERNET internet);

// Fetches the files. progressWnd receives UM_DOWNLOAD_PROGRESS (posted, the
// bytes of all transfers), and, sent, UM_FILE_DOWNLOADED per file and the
// per-file size, URL and unpacking messages. userCancel (the user's cancel
// or a close request) stops every transfer; so does the first failure. Waits
// for every transfer to end. TRUE when every file arrived; otherwise the
// LastError of the first failure stands.
BOOL DownloadAllFiles(UpdateItems& items, HWND progressWnd, HANDLE userCancel);
