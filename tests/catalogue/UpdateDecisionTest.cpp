#include "catalogue/UpdateDecision.h"

#include "base/Handles.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <ZeltoConfig.h>

#include <gtest/gtest.h>

namespace {

class UpdateDecisionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CUtil::InitSystemFolders();
        m_dir = CUtil::GetStagingFolder() + "\\zelto decision";
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        m_file.m_szName = "ZeltoTestCtl.dll";
        m_file.m_szDestFileName = m_dir + "\\ZeltoTestCtl.dll";
        m_staged = CUtil::GetStagingFolder() + "\\ZeltoTestCtl.dll";
        ::DeleteFileA(m_staged.c_str());
    }
    void TearDown() override
    {
        ::DeleteFileA(m_file.m_szDestFileName.c_str());
        ::DeleteFileA(m_staged.c_str());
        ::RemoveDirectoryA(m_dir.c_str());
    }
    void Place(const char* version, const std::string& target)
    {
        ASSERT_TRUE(::CopyFileA(testutil::Component(std::string(version) + "\\ZeltoTestCtl.dll").c_str(),
                                target.c_str(), FALSE));
    }
    DWORD SizeOf(const std::string& path)
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        return data.nFileSizeLow;
    }
    void Expect(DWORD a, DWORD b, DWORD c, DWORD d)
    {
        m_file.m_dwVersionMS = (a << 16) | b;
        m_file.m_dwVersionLS = (c << 16) | d;
    }

    CUpdateInfo m_file;
    std::string m_dir, m_staged;
};

TEST_F(UpdateDecisionTest, AbsentDestinationIsInstalled)
{
    testutil::TestLog log(2);
    Place("v1005", m_staged);   // whatever the staged copy
    EXPECT_EQ(1, IsUpdateNeeded(m_file));
    EXPECT_EQ(0, m_file.m_bDownloaded);
    EXPECT_TRUE(log.Has("[CreateUpdateList] File do not exist (" + m_file.m_szDestFileName + ")"));
}

TEST_F(UpdateDecisionTest, SizeThenVersion)
{
    Place("v1004", m_file.m_szDestFileName);
    m_file.m_dwFileSize = SizeOf(m_file.m_szDestFileName);
    testutil::TestLog log(2);

    Expect(1, 0, 0, 5);
    EXPECT_EQ(1, IsUpdateNeeded(m_file)) << "newer catalogue version";
    EXPECT_TRUE(log.Has("[CheckUpdate] FileVersion (" + m_file.m_szDestFileName + ") (U:65536:5) != (L:65536:4)"));

    Expect(1, 0, 0, 4);
    EXPECT_EQ(0, IsUpdateNeeded(m_file)) << "same version";
    Expect(1, 0, 0, 3);
    EXPECT_EQ(0, IsUpdateNeeded(m_file)) << "older catalogue version";
    // The high half decides before the low half: 1.1.0.0 is newer than
    // 1.0.0.4, 0.9.9.9 older.
    Expect(1, 1, 0, 0);
    EXPECT_EQ(1, IsUpdateNeeded(m_file)) << "newer by the high half, lower low half";
    Expect(0, 9, 9, 9);
    EXPECT_EQ(0, IsUpdateNeeded(m_file)) << "older by the high half, higher low half";
    EXPECT_TRUE(log.Has("[CreateUpdateList] do not need to update file (" + m_file.m_szDestFileName + ")"));

    m_file.m_dwFileSize += 1;
    EXPECT_EQ(1, IsUpdateNeeded(m_file)) << "another size replaces even an older version";
    EXPECT_TRUE(log.Has("[CheckUpdate] FileSize (" + m_file.m_szDestFileName + ") (U:"));

    m_file.m_dwFileSize = 0;
    Expect(0, 0, 0, 0);
    EXPECT_EQ(0, IsUpdateNeeded(m_file)) << "no size, time or version never replaces a present file";

    // A file without a version resource is judged by its size and time only.
    {
        zelto::ScopedFile text(::CreateFileA(m_file.m_szDestFileName.c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(text.get(), "no version here", 15, &written, nullptr));
    }
    m_file.m_dwFileSize = 15;
    Expect(9, 0, 0, 0);
    EXPECT_EQ(0, IsUpdateNeeded(m_file)) << "the same size and no version: current";
}

TEST_F(UpdateDecisionTest, TimeComparesWholeSeconds)
{
    Place("v1004", m_file.m_szDestFileName);
    SYSTEMTIME st = {2024, 3, 0, 15, 10, 20, 30, 0};
    FILETIME base;
    ::SystemTimeToFileTime(&st, &base);
    ULONGLONG t = (static_cast<ULONGLONG>(base.dwHighDateTime) << 32) | base.dwLowDateTime;
    ULONGLONG fileTime = t + 5000000;   // half a second later
    FILETIME ft = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    HANDLE h = ::CreateFileA(m_file.m_szDestFileName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetFileTime(h, nullptr, nullptr, &ft);
    ::CloseHandle(h);

    Expect(1, 0, 0, 4);
    m_file.m_ftFileTime = t;
    EXPECT_EQ(0, IsUpdateNeeded(m_file)) << "equal to the second";
    testutil::TestLog log(2);
    m_file.m_ftFileTime = t - 10000000;   // a second earlier: any difference counts
    EXPECT_EQ(1, IsUpdateNeeded(m_file));
    EXPECT_TRUE(log.Has("[CDlgDownload::CheckUpdate] FileTime (" + m_file.m_szDestFileName + ") (U:"));
}

TEST_F(UpdateDecisionTest, StagedCopies)
{
    Place("v1004", m_file.m_szDestFileName);
    Expect(1, 0, 0, 5);

    Place("v1005", m_staged);
    testutil::TestLog log(2);
    EXPECT_EQ(1, IsUpdateNeeded(m_file));
    EXPECT_EQ(1, m_file.m_bDownloaded) << "the current staged copy is placed without a download";
    EXPECT_TRUE(testutil::FileExists(m_staged));
    EXPECT_TRUE(log.Has("[CreateUpdateList] Temp File exist (" + m_staged + ")"));

    m_file.m_bDownloaded = 0;
    Place("v1004", m_staged);
    EXPECT_EQ(1, IsUpdateNeeded(m_file));
    EXPECT_EQ(0, m_file.m_bDownloaded);
    EXPECT_FALSE(testutil::FileExists(m_staged)) << "the outdated staged copy is deleted";
}

TEST_F(UpdateDecisionTest, PresentRegisteredFileIsRegisteredAgain)
{
    Place("v1005", m_file.m_szDestFileName);
    Expect(1, 0, 0, 5);
    m_file.m_bRegister = 1;
    EXPECT_EQ(0, IsUpdateNeeded(m_file));
    char path[MAX_PATH];
    std::string clsid(TEST_CLSID_A);
    EXPECT_TRUE(CUtil::GetInprocServerPath(clsid.substr(1, clsid.size() - 2).c_str(), path, sizeof(path)));
    CUtil::UnregisterServer(m_file.m_szDestFileName.c_str());
}

TEST_F(UpdateDecisionTest, APresentFileThatNoLongerRegistersIsKept)
{
    // Read before anyone agreed to anything: the file is installed again,
    // never deleted (the user may still cancel).
    ASSERT_TRUE(::CopyFileA(testutil::Component("bad\\ZeltoBadReg.dll").c_str(), m_file.m_szDestFileName.c_str(),
                            FALSE));
    m_file.m_bRegister = 1;
    EXPECT_EQ(1, IsUpdateNeeded(m_file));
    EXPECT_TRUE(testutil::FileExists(m_file.m_szDestFileName));
}

TEST(CompanionVersion, FromTheDownloadedCodeStore)
{
    const std::string units = std::string("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\") +
                              ZELTO_COMPANION_CLSID;
    CRegKey cleanup;
    auto removeUnit = [&] {
        if (cleanup.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units") ==
            ERROR_SUCCESS)
            cleanup.RecurseDeleteKey(ZELTO_COMPANION_CLSID);
    };
    removeUnit();
    EXPECT_EQ("0.0.0.0", GetCompanionVersion());

    ASSERT_TRUE(CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (units + "\\Contains\\Files").c_str(), "C:\\other\\x.dll", ""));
    testutil::TestLog log(2);
    EXPECT_EQ("0.0.0.0", GetCompanionVersion());
    EXPECT_TRUE(log.Has("[ZeltoSetup]RegEnumValue can't find\r\n"));

    std::string companion = testutil::Component("companion\\ZeltoOmbrix.dll");
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (units + "\\Contains\\Files").c_str(), companion.c_str(), "");
    EXPECT_EQ("1.0.1.31", GetCompanionVersion());
    removeUnit();
}

}  // namespace
