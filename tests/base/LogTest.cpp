#include "base/Log.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StopLog();
        m_path = testutil::ExeFolder() + "\\ZeltoOmbrix.log";
        ::DeleteFileA(m_path.c_str());
    }
    void TearDown() override
    {
        StopLog();
        ::DeleteFileA(m_path.c_str());
    }
    std::string Contents() const { return testutil::ReadWholeFile(m_path); }

    std::string m_path;
};

TEST_F(LogTest, DropsLinesBeforeStartAndAtLevelZero)
{
    WriteLog(1, "before start");
    EXPECT_FALSE(testutil::FileExists(m_path));

    StartLog(LOG_FLAG_DEBUGGER, 0);
    WriteLog(1, "level one");
    EXPECT_FALSE(testutil::FileExists(m_path)) << "level 0 writes not even the banner";
}

TEST_F(LogTest, LevelOneWritesBannerAndFailuresOnly)
{
    StartLog(LOG_FLAG_DEBUGGER, 1);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    WriteLog(1, "[Op] failed %d %s", 5, "x");
    // A caller that logs first and reads the system error next gets its own
    // error, not the log file's.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    WriteLog(2, "[Op] trace");
    WriteLog(3, "[Op] detail");

    std::string text = Contents();
    EXPECT_EQ(0u, text.find("[ZeltoSetup]===== Start [ ")) << text;
    EXPECT_NE(std::string::npos, text.find("] Level = 1 =====\r\n"));
    EXPECT_NE(std::string::npos, text.find("[ZeltoSetup][Op] failed 5 x\r\n"));
    EXPECT_EQ(std::string::npos, text.find("trace"));
    EXPECT_EQ(std::string::npos, text.find("detail"));
}

TEST_F(LogTest, LevelTwoWritesTraceAndAppends)
{
    StartLog(0, 2);
    WriteLog(2, "first");
    WriteLog(2, "%s", "");   // an empty message still gives the tag and a line end
    WriteLog(2, "second");
    std::string text = Contents();
    EXPECT_NE(std::string::npos, text.find("[ZeltoSetup]first\r\n[ZeltoSetup]\r\n[ZeltoSetup]second\r\n"));
}

TEST_F(LogTest, StartsOverAtThreeMebibytes)
{
    // One byte below the limit: the line is appended.
    testutil::WriteWholeFile(m_path, std::string(LOG_RESTART_SIZE - 1, 'a'));
    StartLog(0, 1);
    EXPECT_EQ(LOG_RESTART_SIZE - 1 + 0u, Contents().find("[ZeltoSetup]===== Start"));

    // Exactly at the limit: the file is emptied first and holds that one line.
    testutil::WriteWholeFile(m_path, std::string(LOG_RESTART_SIZE, 'a'));
    WriteLog(1, "after restart");
    EXPECT_EQ("[ZeltoSetup]after restart\r\n", Contents());
}

TEST_F(LogTest, CutsOverlongLinesAtTheBuffer)
{
    StartLog(0, 2);
    ::DeleteFileA(m_path.c_str());
    std::string longText(3000, 'x');
    WriteLog(2, "%s", longText.c_str());
    std::string line = Contents();
    ASSERT_GE(line.size(), 14u);
    EXPECT_LE(line.size(), LOG_LINE_BUFFER - 1);
    EXPECT_EQ("\r\n", line.substr(line.size() - 2));

    // A Korean text is cut between characters, never inside one.
    ::DeleteFileA(m_path.c_str());
    std::string korean;
    for (int i = 0; i < 600; ++i) korean += "\xC7\xD1";   // "한" in code page 949
    WriteLog(2, "%s", korean.c_str());
    line = Contents();
    size_t body = line.size() - 12 - 2;
    EXPECT_EQ(0u, body % 2) << "a double-byte character was split";
    EXPECT_EQ("\r\n", line.substr(line.size() - 2));
}

TEST_F(LogTest, ReadsLevelFromRegistry)
{
    const char* key = "Software\\QRV Corporation\\";
    testutil::RegistryValueGuard guard(HKEY_LOCAL_MACHINE, key, "ZeltoSetupLog");
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &k, nullptr));
    ::RegDeleteValueA(k, "ZeltoSetupLog");
    ::RegCloseKey(k);
    EXPECT_EQ(0, ReadLogLevelSetting()) << "missing value";

    DWORD two = 2;
    testutil::SetRegistryValue(HKEY_LOCAL_MACHINE, key, "ZeltoSetupLog", REG_DWORD, &two, 4);
    EXPECT_EQ(2, ReadLogLevelSetting());

    DWORD high = 0x103;   // only the lowest 8 bits count
    testutil::SetRegistryValue(HKEY_LOCAL_MACHINE, key, "ZeltoSetupLog", REG_DWORD, &high, 4);
    EXPECT_EQ(3, ReadLogLevelSetting());

    ULONGLONG wide = 2;   // longer than four bytes: level 0
    testutil::SetRegistryValue(HKEY_LOCAL_MACHINE, key, "ZeltoSetupLog", REG_QWORD, &wide, 8);
    EXPECT_EQ(0, ReadLogLevelSetting());

    BYTE raw[4] = {2, 0, 0, 0};   // the type is not checked
    testutil::SetRegistryValue(HKEY_LOCAL_MACHINE, key, "ZeltoSetupLog", REG_BINARY, raw, 4);
    EXPECT_EQ(2, ReadLogLevelSetting());
}

}  // namespace
