#include "zip/ZstdPatch.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>
#include <new>

namespace zip {

const char* PatchResultText(PatchResult result)
{
    switch (result) {
    case PatchResult::Ok: return "ok";
    case PatchResult::NotAPatch: return "not a zstd frame";
    case PatchResult::WindowTooLarge: return "window too large";
    case PatchResult::WrongSize: return "wrong size";
    case PatchResult::Corrupt: return "corrupt";
    case PatchResult::NoMemory: return "out of memory";
    }
    return "?";
}

namespace {
struct FreeDContext {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
}  // namespace

PatchResult ApplyZstdPatch(const std::vector<uint8_t>& base, const std::vector<uint8_t>& patch,
                           uint64_t expectedSize, std::vector<uint8_t>& out)
{
    out.clear();
    ZSTD_frameHeader header;
    if (patch.empty() || ZSTD_getFrameHeader(&header, patch.data(), patch.size()) != 0 ||
        header.frameType != ZSTD_frame)
        return PatchResult::NotAPatch;
    if (header.windowSize > kMaxPatchWindow || base.size() > kMaxPatchWindow) return PatchResult::WindowTooLarge;
    // The frame must state the result's size when it states one at all.
    if (header.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN && header.frameContentSize != expectedSize)
        return PatchResult::WrongSize;
    if (expectedSize > kMaxPatchWindow) return PatchResult::WrongSize;

    std::unique_ptr<ZSTD_DCtx, FreeDContext> context(ZSTD_createDCtx());
    if (!context) return PatchResult::NoMemory;
    if (ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, kMaxPatchWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), base.data(), base.size())))
        return PatchResult::Corrupt;
    try {
        // One byte more than expected, so that a longer result shows.
        out.resize(static_cast<size_t>(expectedSize) + 1);
    } catch (const std::bad_alloc&) {
        return PatchResult::NoMemory;
    }
    const size_t written = ZSTD_decompressDCtx(context.get(), out.data(), out.size(), patch.data(), patch.size());
    if (ZSTD_isError(written)) {
        const bool tooLong = ZSTD_getErrorCode(written) == ZSTD_error_dstSize_tooSmall;
        out.clear();
        return tooLong ? PatchResult::WrongSize : PatchResult::Corrupt;
    }
    if (written != expectedSize) {
        out.clear();
        return PatchResult::WrongSize;
    }
    out.resize(written);
    return PatchResult::Ok;
}

}  // namespace zip
