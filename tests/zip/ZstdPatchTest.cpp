#include "zip/ZstdPatch.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

std::vector<uint8_t> Read(const char* name)
{
    std::ifstream in(testutil::WindowsPathOf(PATCH_DATA_DIR) + "\\" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ZstdPatchTest : public ::testing::Test {
protected:
    std::vector<uint8_t> m_old = Read("old.bin"), m_new = Read("new.bin"), m_patch = Read("new.bin.zst");
    std::vector<uint8_t> m_out;
};

TEST_F(ZstdPatchTest, APatchFromTheOldBytesGivesTheNewOnes)
{
    ASSERT_FALSE(m_old.empty());
    ASSERT_LT(m_patch.size(), m_new.size() / 20);
    ASSERT_EQ(zip::ApplyZstdPatch(m_old, m_patch, m_new.size(), m_out), zip::PatchResult::Ok);
    EXPECT_TRUE(m_out == m_new);
}

TEST_F(ZstdPatchTest, OtherBaseBytesNeverGiveTheNewOnes)
{
    // Decoded against other bytes a patch may still decode: only the
    // result's hash, checked by the caller, tells. It is never the target.
    std::vector<uint8_t> other = m_old;
    for (size_t i = 0; i < other.size(); i += 4096) other[i] ^= 0x5A;
    const zip::PatchResult result = zip::ApplyZstdPatch(other, m_patch, m_new.size(), m_out);
    EXPECT_FALSE(result == zip::PatchResult::Ok && m_out == m_new);
    EXPECT_NE(zip::ApplyZstdPatch({}, m_patch, m_new.size(), m_out), zip::PatchResult::Ok);
}

TEST_F(ZstdPatchTest, SizesOtherThanTheFilesAreRefused)
{
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, m_patch, m_new.size() - 1, m_out), zip::PatchResult::WrongSize);
    EXPECT_TRUE(m_out.empty());
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, m_patch, m_new.size() + 1, m_out), zip::PatchResult::WrongSize);
    // A frame that states no size and decodes to more than expected: one raw
    // block of 8 bytes, 4 expected.
    const std::vector<uint8_t> unsized = {0x28, 0xB5, 0x2F, 0xFD, 0x00, 0x00, 0x41, 0x00, 0x00,
                                          1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, unsized, 4, m_out), zip::PatchResult::WrongSize);
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, unsized, 8, m_out), zip::PatchResult::Ok);
}

TEST_F(ZstdPatchTest, DamagedOrHugePatchesAreRefusedBeforeAnyOutput)
{
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, {}, m_new.size(), m_out), zip::PatchResult::NotAPatch);
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, {'P', 'K', 3, 4, 0, 0, 0, 0}, m_new.size(), m_out),
              zip::PatchResult::NotAPatch);
    std::vector<uint8_t> cut(m_patch.begin(), m_patch.begin() + static_cast<long>(m_patch.size() / 2));
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, cut, m_new.size(), m_out), zip::PatchResult::Corrupt);
    std::vector<uint8_t> flipped = m_patch;
    flipped[flipped.size() / 2] ^= 0xFF;
    EXPECT_NE(zip::ApplyZstdPatch(m_old, flipped, m_new.size(), m_out), zip::PatchResult::Ok);
    // A frame asking for a 1 GiB window (window descriptor: exponent 20).
    const std::vector<uint8_t> huge = {0x28, 0xB5, 0x2F, 0xFD, 0x00, 0xA0, 0x09, 0x00, 0x00, 0x2A};
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, huge, 1, m_out), zip::PatchResult::WindowTooLarge);
    // The same frame within the limit decodes.
    const std::vector<uint8_t> small = {0x28, 0xB5, 0x2F, 0xFD, 0x00, 0x00, 0x09, 0x00, 0x00, 0x2A};
    EXPECT_EQ(zip::ApplyZstdPatch(m_old, small, 1, m_out), zip::PatchResult::Ok);
    EXPECT_EQ(m_out, std::vector<uint8_t>{0x2A});
}

}  // namespace
