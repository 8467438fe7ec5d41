#include "catalogue/FileRegistration.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <ZeltoConfig.h>

#include <gtest/gtest.h>

namespace {

const char kVector[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector";
const char kPreApproved[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\{A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51}";
const char kStats[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\{A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51}";

class FileRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CUtil::InitSystemFolders();
        m_dir = CUtil::GetStagingFolder() + "\\zelto registration";
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        m_file.m_szDestFileName = m_dir + "\\ZeltoTestCtl.dll";
        m_file.m_szClassId = "A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51";
        m_file.m_bRegister = 1;
        ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), m_file.m_szDestFileName.c_str(), FALSE);
    }
    void TearDown() override
    {
        CUtil::UnregisterServer(m_file.m_szDestFileName.c_str());
        ::DeleteFileA(m_file.m_szDestFileName.c_str());
        ::RemoveDirectoryA(m_dir.c_str());
        CUtil::InitSystemFolders();
    }
    void Browser(const char* version)
    {
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, kVector, "IE", version);
        CUtil::InitSystemFolders();
    }
    static bool KeyExists(HKEY root, const std::string& path)
    {
        CRegKey key;
        return key.Open(root, path.c_str(), ZELTO_KEY_READ) == ERROR_SUCCESS;
    }
    bool ClassRegistered() const
    {
        return KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{" + m_file.m_szClassId + "}\\InprocServer32");
    }

    CUpdateInfo m_file;
    std::string m_dir;
    testutil::RegistryValueGuard m_ie{HKEY_LOCAL_MACHINE, kVector, "IE"};
};

TEST_F(FileRegistrationTest, PermissionKeysByBrowserVersion)
{
    const std::string allowed = std::string(kStats) + "\\iexplore\\AllowedDomains\\" + ZELTO_PORTAL_DOMAIN;
    // An earlier install of the same class may have left its keys.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kPreApproved);
    DeleteKeyTree(HKEY_CURRENT_USER, kStats);
    Browser("6.0");
    EXPECT_TRUE(RegisterServer(m_file));
    EXPECT_TRUE(ClassRegistered());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, allowed));

    Browser("7.0");
    EXPECT_TRUE(RegisterServer(m_file));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, allowed));

    Browser("8.0");
    testutil::TestLog log(2);
    EXPECT_TRUE(RegisterServer(m_file));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, allowed));
    EXPECT_TRUE(log.Has("[RegisterServer] RegisterServer(" + m_file.m_szDestFileName + ") Success"));
    EXPECT_TRUE(log.Has("[RegisterAllowedDomains] regKey.Create(" + allowed + ") Success"));

    EXPECT_TRUE(UnregisterServer(m_file));
    EXPECT_FALSE(ClassRegistered());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kStats)) << "the whole class tree goes";
    EXPECT_TRUE(log.Has("[UnregisterAllowedDomains] regKey.DeleteSubKey(HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows"
                        "\\CurrentVersion\\Ext\\Stats\\{A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51}) Success"));
    EXPECT_TRUE(testutil::FileExists(m_file.m_szDestFileName)) << "unregistering keeps the file";
}

TEST_F(FileRegistrationTest, UnflaggedFilesAndMissingClassIds)
{
    Browser("9.0");
    m_file.m_bRegister = 0;
    EXPECT_TRUE(RegisterServer(m_file));
    EXPECT_FALSE(ClassRegistered());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPreApproved));
    EXPECT_TRUE(UnregisterServer(m_file));

    testutil::TestLog log(2);
    CUpdateInfo noClass;
    EXPECT_FALSE(RegisterPreApproved(noClass));
    EXPECT_FALSE(RegisterAllowedDomains(noClass));
    EXPECT_FALSE(UnregisterPreApproved(noClass));
    EXPECT_FALSE(log.Has("Registe")) << "nothing logged";

    EXPECT_FALSE(UnregisterPreApproved(m_file)) << "nothing to delete";
    EXPECT_TRUE(log.Has("[UnregisterPreApproved] regKey."));
}

TEST_F(FileRegistrationTest, AFailingRegistrationDeletesThePlacedFile)
{
    // The registration tool starts, loads the library and its entry point
    // fails: the tool's exit code says so, and the file is not left behind.
    ::CopyFileA(testutil::Component("bad\\ZeltoBadReg.dll").c_str(), m_file.m_szDestFileName.c_str(), FALSE);
    testutil::TestLog log(1);
    EXPECT_FALSE(RegisterServer(m_file));
    EXPECT_FALSE(testutil::FileExists(m_file.m_szDestFileName));
    EXPECT_TRUE(log.Has("[RegisterServer] RegisterServer(" + m_file.m_szDestFileName + ") Failed"));
    EXPECT_TRUE(log.Has("ended with exit code 5"));
}

}  // namespace
