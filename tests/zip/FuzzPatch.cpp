// Fuzz target of the patch decoder (built natively with libFuzzer, ASan and
// UBSan by `make fuzz`, with zstd's decoder from Debian's source package).
// The input is a patch: its first four bytes (little-endian) give the
// expected size, the rest is the zstd frame; the old bytes are the patch
// tests' old.bin (ZELTO_PATCH_BASE). A result must have exactly the expected
// size.
#include "zip/ZstdPatch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
std::vector<uint8_t> g_base;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* path = std::getenv("ZELTO_PATCH_BASE")) {
        if (FILE* f = std::fopen(path, "rb")) {
            uint8_t buffer[65536];
            size_t read;
            while ((read = std::fread(buffer, 1, sizeof(buffer), f)) > 0) g_base.insert(g_base.end(), buffer, buffer + read);
            std::fclose(f);
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    const uint64_t expected = (data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24)) % (4u << 20);
    std::vector<uint8_t> patch(data + 4, data + size), out;
    if (zip::ApplyZstdPatch(g_base, patch, expected, out) == zip::PatchResult::Ok && out.size() != expected) std::abort();
    if (zip::ApplyZstdPatch(g_base, patch, expected, out) != zip::PatchResult::Ok && !out.empty()) std::abort();
    return 0;
}
