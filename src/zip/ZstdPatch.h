// Applies a zstd patch ("zstd --patch-from=OLD NEW"): a zstd frame whose
// matches may reach back into the old bytes, which the decoder takes as its
// prefix. Bounded before anything is decoded: the frame's window, the old
// bytes and the result's size.
#pragma once

#include <cstdint>
#include <vector>

namespace zip {

// The largest window a patch may ask for (128 MiB, what zstd itself allows
// without --long): a patch made against a larger old file is refused, as is
// an old file larger than the window.
constexpr unsigned kMaxPatchWindowLog = 27;
constexpr uint64_t kMaxPatchWindow = 1ull << kMaxPatchWindowLog;

enum class PatchResult {
    Ok = 0,
    NotAPatch,      // no complete zstd frame header
    WindowTooLarge, // the frame asks for more than kMaxPatchWindow, or the old bytes exceed it
    WrongSize,      // the frame states a size other than the expected one, or decodes to another
    Corrupt,        // the decoder refused the data
    NoMemory,
};

const char* PatchResultText(PatchResult result);

// Decodes patch against base into out, which ends exactly expectedSize bytes
// long on success (and empty otherwise).
PatchResult ApplyZstdPatch(const std::vector<uint8_t>& base, const std::vector<uint8_t>& patch,
                           uint64_t expectedSize, std::vector<uint8_t>& out);

}  // namespace zip
