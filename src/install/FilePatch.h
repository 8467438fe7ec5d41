// Updating a file by a patch against the bytes installed at its destination
// instead of fetching it whole: choosing the patch before the downloads, and
// staging the file from it. A patch that fails in any way leaves the file to
// be fetched whole in the same run.
#pragma once

#include "catalogue/UpdateInfo.h"

#include <wininet.h>

#include <string>

// The SHA-256 the file's bytes have once staged: SHA256 for a plain download,
// FILESHA256 for a file unpacked from an archive.
const std::string& TargetSha256(const CUpdateInfo& file);

// Picks the patch listed for the bytes installed at the file's destination
// (m_nPatch; -1 when there is none, or the file is not there or too large to
// patch). Reads and hashes the installed file.
void ChoosePatch(CUpdateInfo& file);

// The bytes the run fetches for the file: its chosen patch's size, else the
// size the catalogue states for its download (0 when it states none).
DWORD PlannedDownloadSize(const CUpdateInfo& file);

// Fetches the chosen patch (bounded by its SIZE, checked by its SHA256; its
// chunks posted to progressWnd), applies it to the installed bytes and
// writes the result to staged (the file's unpacked path) when its size and
// hash are the file's. On any failure: one log line, nothing staged,
// LastError as it was, and false; the caller then fetches the whole file.
bool StageFromPatch(CUpdateInfo& file, const std::string& staged, HINTERNET internet, HWND progressWnd,
                    HANDLE cancelEvent);
