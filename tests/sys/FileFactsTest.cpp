#include "sys/Util.h"

#include "base/LastError.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(FileFacts, Existence)
{
    testutil::TestLog log(1);
    EXPECT_TRUE(CUtil::IsFileExist(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str()));
    RecordLastError(0, 0);
    const std::string folder = testutil::ExeFolder();
    EXPECT_FALSE(CUtil::IsFileExist(folder.c_str())) << "a directory is not a file";
    EXPECT_EQ(ERR_LOCAL_FILE, LastError.dwAppError);
    EXPECT_TRUE(log.Has("[IsFileExist] CreateFile(" + folder + ") Failed, Error Code = "));
    EXPECT_FALSE(CUtil::IsFileExist((folder + "\\missing.dll").c_str()));

    // A file held open for writing by someone else cannot be read now.
    const std::string held = folder + "\\held.bin";
    HANDLE h = ::CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_FALSE(CUtil::IsFileExist(held.c_str()));
    ::CloseHandle(h);
    EXPECT_TRUE(CUtil::IsFileExist(held.c_str()));
    ::DeleteFileA(held.c_str());
}

TEST(FileFacts, VersionsOfBuiltComponents)
{
    DWORD high = 9, low = 9;
    ASSERT_TRUE(CUtil::GetFileVersion(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), &high, &low));
    EXPECT_EQ(0x00010000u, high);
    EXPECT_EQ(0x00000004u, low);
    ASSERT_TRUE(CUtil::GetFileVersion(testutil::Component("companion\\ZeltoOmbrix.dll").c_str(), &high, &low));
    EXPECT_EQ("1.0.1.31", CUtil::FormatVersion(high, low));

    high = low = 9;
    EXPECT_FALSE(CUtil::GetFileVersion((testutil::ExeFolder() + "\\CTestTestfile.cmake").c_str(), &high, &low))
        << "no version resource";
    EXPECT_EQ(0u, high);
    EXPECT_EQ(0u, low);
    EXPECT_FALSE(CUtil::GetFileVersion("C:\\no\\such.dll", &high, &low));
}

TEST(FileFacts, CommaTokens)
{
    std::string list = "1,0,1,31";
    EXPECT_EQ("1", CUtil::NextCommaToken(list));
    EXPECT_EQ("0", CUtil::NextCommaToken(list));
    EXPECT_EQ("1", CUtil::NextCommaToken(list));
    EXPECT_EQ("31", CUtil::NextCommaToken(list));
    EXPECT_EQ("", CUtil::NextCommaToken(list));
    EXPECT_EQ("", CUtil::NextCommaToken(list));

    list = "1, 2";
    EXPECT_EQ("1", CUtil::NextCommaToken(list));
    EXPECT_EQ("2", CUtil::NextCommaToken(list));

    list = "1,,3";
    EXPECT_EQ("1", CUtil::NextCommaToken(list));
    EXPECT_EQ("", CUtil::NextCommaToken(list));
    EXPECT_EQ("3", CUtil::NextCommaToken(list));

    list = " 1 ,2";
    EXPECT_EQ(" 1 ", CUtil::NextCommaToken(list)) << "the token itself is not trimmed";
}

}  // namespace
