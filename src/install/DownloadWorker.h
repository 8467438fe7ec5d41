// The download phase of an install run: every file of the run's items that
// is not staged yet is fetched into the staging folder, up to
// kParallelDownloads at once, each on its own connection with its own
// retries, resume and hash check.
#pragma once

#include "catalogue/UpdateSet.h"

#include <wininet.h>

#include <memory>
#include <vector>

// Six transfers at once, as a browser opens to one host: measured with every
// answer 50 ms late (bench/latency_bench.sh), four left the link idle for a
// fifth round trip on 20 files and missed curl's six-at-a-time time by 48%;
// six keep a content server's load per desktop at a browser's, and the
// hashing and unpacking of six files stays within a 2-core desktop's means.
constexpr int kParallelDownloads = 6;

using UpdateItems = std::vector<std::unique_ptr<CUpdateSet>>;

// Two plain downloads of the run that would land on one staged name (the
// same NAME in two items): each after the first is staged in a folder of its
// own ("same-<n>"), so that none is placed with another's bytes. A current
// copy already staged keeps its name.
void SeparateStagedNames(UpdateItems& items);

// Picks for each file to fetch the patch listed for its installed bytes;
// the files of an archive that the run needs whole, or that lies staged
// already, take it from the archive instead.
void ChoosePatches(UpdateItems& items);

// The bytes the run will fetch (after SeparateStagedNames and ChoosePatches), and each file's m_dwDownloadSize: from the
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
