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

TEST_F(FoldersTest, MacroExpansion)
{
    const std::string system = F().szSystem;
    EXPECT_EQ(system + "\\\\x.dll", CUtil::ExpandPathMacros("[SYSTEM]\\x.dll")) << "the separator is always inserted";
    EXPECT_EQ(system + "\\x.dll", CUtil::ExpandPathMacros("[system]x.dll")) << "any letter case";
    EXPECT_EQ(system + "\\Zelto\\Sub", CUtil::ExpandPathMacros("[SyStEm]Zelto\\Sub")) << "the rest keeps its case";
    EXPECT_EQ(system + "\\a[SYSTEM]b", CUtil::ExpandPathMacros("[SYSTEM]a[SYSTEM]b")) << "first occurrence only";
    EXPECT_EQ(std::string("a\\") + F().szOSVersion + "\\\\b", CUtil::ExpandPathMacros("a\\[OSVERSION]\\b"));
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

}  // namespace
