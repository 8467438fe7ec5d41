#include "sys/Util.h"

#include "base/LastError.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

class FoldersTest : public ::testing::Test {
protected:
    void SetUp() override { CUtil::InitSystemFolders(); }
    const SystemFolders& F() const { return CUtil::Folders(); }
};

TEST_F(FoldersTest, TableIsFilled)
{
    EXPECT_STRNE("", F().szWindows);
    EXPECT_STRNE("", F().szSystem);
    EXPECT_STRNE("", F().szProgramFiles);
    EXPECT_EQ('\\', F().szTemp[lstrlenA(F().szTemp) - 1]) << "as the system reports it";
    EXPECT_EQ(std::string(F().szWindows) + "\\Downloaded Program Files", F().szDownloaded);
    EXPECT_EQ(2u, F().osVersion.dwPlatformId);
    char expected[32];
    wsprintfA(expected, "%d.%d", F().osVersion.dwMajorVersion, F().osVersion.dwMinorVersion);
    EXPECT_STREQ(expected, F().szOSVersion);
}

TEST_F(FoldersTest, MacroExpansion)
{
    const std::string system = F().szSystem;
    EXPECT_EQ(system + "\\\\x.dll", CUtil::ExpandPathMacros("[SYSTEM]\\x.dll")) << "the separator is always inserted";
    EXPECT_EQ(system + "\\x.dll", CUtil::ExpandPathMacros("[system]x.dll")) << "any letter case";
    EXPECT_EQ(system + "\\Zelto\\Sub", CUtil::ExpandPathMacros("[SyStEm]Zelto\\Sub")) << "the rest keeps its case";
    EXPECT_EQ(system + "\\a[SYSTEM]b", CUtil::ExpandPathMacros("[SYSTEM]a[SYSTEM]b")) << "first occurrence only";
    EXPECT_EQ(std::string("a\\") + F().szOSVersion + "\\\\b", CUtil::ExpandPathMacros("a\\[OSVERSION]\\b"));
    EXPECT_EQ(std::string(F().szProgramFiles) + "\\Zelto", CUtil::ExpandPathMacros("[PROGRAMS]Zelto"));
    // Each folder macro names its own folder.
    EXPECT_EQ(std::string(F().szWindows) + "\\a", CUtil::ExpandPathMacros("[WINDOWS]a"));
    EXPECT_EQ(std::string(F().szPrograms) + "\\a", CUtil::ExpandPathMacros("[PROGRAMMENU]a"));
    EXPECT_EQ(std::string(F().szDesktop) + "\\a", CUtil::ExpandPathMacros("[DESKTOP]a"));
    EXPECT_NE(std::string(F().szPrograms), std::string(F().szDesktop));
    EXPECT_EQ(std::string(F().szWindows) + "\\x", CUtil::ExpandPathMacros("%SystemRoot%x"));
    EXPECT_EQ(std::string(F().szDownloaded), CUtil::ExpandPathMacros("[DOWNLOADED]")) << "trailing backslash removed";
    EXPECT_EQ("C:\\dir", CUtil::ExpandPathMacros("C:\\dir\\"));
    EXPECT_EQ("C\\", CUtil::ExpandPathMacros("C\\")) << "a two-character text keeps it";
    EXPECT_EQ("no macros here", CUtil::ExpandPathMacros("no macros here"));
}

TEST_F(FoldersTest, RecursiveDirectories)
{
    EXPECT_FALSE(CUtil::CreateRecursiveDirectory(nullptr));
    EXPECT_TRUE(CUtil::CreateRecursiveDirectory("C:\\"));
    EXPECT_TRUE(CUtil::CreateRecursiveDirectory("C:"));

    const std::string base = CUtil::GetStagingFolder() + "\\zelto_dirs";
    const std::string deep = base + "\\a\\b\\c";
    EXPECT_TRUE(CUtil::CreateRecursiveDirectory(deep.c_str()));
    EXPECT_TRUE(testutil::FileExists(deep));
    EXPECT_TRUE(CUtil::CreateRecursiveDirectory(deep.c_str())) << "existing chains";
    EXPECT_TRUE(CUtil::CreateRecursiveDirectory((deep + "\\").c_str()));

    // A file in the way: the chain fails part-way with 1001; what was made stays.
    testutil::WriteWholeFile(base + "\\a\\file", "x");
    testutil::TestLog log(2);
    RecordLastError(0, 0);
    const std::string blocked = base + "\\a\\file\\d\\e";
    EXPECT_FALSE(CUtil::CreateRecursiveDirectory(blocked.c_str()));
    EXPECT_EQ(ERR_CREATE_FOLDER, LastError.dwAppError);
    EXPECT_NE(0u, LastError.dwSysError);
    EXPECT_TRUE(log.Has("[CreateRecursiveDirectory] CreateDirectory error = ")) << log.Contents();
    EXPECT_TRUE(log.Has("szPathName = " + blocked + "\r\n"));

    ::DeleteFileA((base + "\\a\\file").c_str());
    ::RemoveDirectoryA(deep.c_str());
    ::RemoveDirectoryA((base + "\\a\\b").c_str());
    ::RemoveDirectoryA((base + "\\a").c_str());
    ::RemoveDirectoryA(base.c_str());
}

TEST_F(FoldersTest, CountsPlainFilesOnly)
{
    const std::string dir = CUtil::GetStagingFolder() + "\\zelto_count";
    CUtil::CreateRecursiveDirectory((dir + "\\sub").c_str());
    testutil::WriteWholeFile(dir + "\\a", "1");
    testutil::WriteWholeFile(dir + "\\b", "2");
    ::SetFileAttributesA((dir + "\\a").c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesA((dir + "\\b").c_str(), FILE_ATTRIBUTE_HIDDEN);

    // Only files whose attributes are exactly "normal" count; Wine reports
    // every file with the archive bit, so none counts here.
    DWORD attributes = ::GetFileAttributesA((dir + "\\a").c_str());
    EXPECT_EQ(attributes == FILE_ATTRIBUTE_NORMAL ? 1 : 0, CUtil::CountFilesInFolder(dir.c_str()));
    EXPECT_EQ(0, CUtil::CountFilesInFolder((dir + "\\").c_str())) << "a trailing backslash is never found";
    EXPECT_EQ(0, CUtil::CountFilesInFolder(F().szTemp));
    EXPECT_EQ(0, CUtil::CountFilesInFolder((dir + "\\a").c_str())) << "not a folder";

    ::SetFileAttributesA((dir + "\\b").c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA((dir + "\\a").c_str());
    ::DeleteFileA((dir + "\\b").c_str());
    ::RemoveDirectoryA((dir + "\\sub").c_str());
    ::RemoveDirectoryA(dir.c_str());
}

}  // namespace
