#include "install/ItemInstallation.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <ZeltoConfig.h>

#include <gtest/gtest.h>

#include <ole2.h>

namespace {

class ItemInstallationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        CUtil::InitSystemFolders();
        m_dir = std::string(CUtil::Folders().szProgramFiles) + "\\Zelto Item Test";
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        testutil::RemoveUninstallEntry();
    }
    void TearDown() override
    {
        for (const char* name : {"ZeltoTestCtl.dll", "ZeltoTestCtl2.dll"}) {
            std::string path = m_dir + "\\" + name;
            CUtil::UnregisterServer(path.c_str());
            ::DeleteFileA(path.c_str());
            ::DeleteFileA((CUtil::GetStagingFolder() + "\\" + name).c_str());
        }
        ::RemoveDirectoryA(m_dir.c_str());
        testutil::RemoveUninstallEntry();
        ::CoUninitialize();
    }
    CUpdateInfo& Stage(CUpdateSet& item, const char* component, const char* name, const char* clsid, int main)
    {
        ::CopyFileA(testutil::Component(std::string(component) + "\\" + name).c_str(),
                    (CUtil::GetStagingFolder() + "\\" + name).c_str(), FALSE);
        item.m_arrUpdateFile.push_back(std::make_unique<CUpdateInfo>());
        CUpdateInfo& file = *item.m_arrUpdateFile.back();
        file.m_szName = name;
        file.m_szDestFileName = m_dir + "\\" + name;
        file.m_bRegister = 1;
        file.m_szClassId = std::string(clsid).substr(1, 36);
        file.m_bMainFile = main;
        return file;
    }
    static std::string Record(const std::string& sub, const char* value)
    {
        return CUtil::GetProfileString(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + sub).c_str(), value, "<none>");
    }
    std::string m_dir;
};

TEST_F(ItemInstallationTest, PlacesRegistersAndRecords)
{
    CUpdateSet item;
    item.m_strName = "ZeltoTestCtl";
    Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    Stage(item, "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B, 0).m_bSharedDll = 1;
    int restart = 0;
    ASSERT_TRUE(InstallItem(item, 1, restart));

    EXPECT_TRUE(testutil::FileExists(m_dir + "\\ZeltoTestCtl.dll"));
    WORD code = 0;
    CUtil::CheckClassRegistration(std::string(TEST_CLSID_B).substr(1, 36).c_str(), &code);
    EXPECT_EQ(1, code);

    EXPECT_EQ("젤토 옴브릭스", Record("", "DisplayName"));
    EXPECT_NE(std::string::npos, Record("", "UninstallString").find("test_install.exe -u"));
    EXPECT_EQ("QRV Corp.", Record("", "Publisher"));
    EXPECT_EQ(ZELTO_HOME_URL, Record("", "URLInfoAbout"));
    EXPECT_EQ("ZeltoTestCtl", Record("\\ZeltoTestCtl", nullptr)) << "the main file's base name";
    EXPECT_EQ(m_dir + "\\ZeltoTestCtl2.dll", Record("\\ZeltoTestCtl\\ZeltoTestCtl2", "FilePath"));
    EXPECT_EQ(1u, CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\ZeltoTestCtl\\ZeltoTestCtl2").c_str(),
                                           "SharedDll", 9));
    EXPECT_EQ(std::string(TEST_CLSID_B).substr(1, 36), Record("\\ZeltoTestCtl\\ZeltoTestCtl2", "ClassID"));
}

TEST_F(ItemInstallationTest, SelfUninstallerLeavesNoRecord)
{
    CUpdateSet item;
    item.m_strName = "Self";
    item.m_bSelfUninstaller = 1;
    Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    int restart = 0;
    EXPECT_TRUE(InstallItem(item, 1, restart));
    EXPECT_EQ("<none>", Record("", "DisplayName"));
}

TEST_F(ItemInstallationTest, AFailedFileRollsTheItemBack)
{
    CUpdateSet item;
    item.m_strName = "Broken";
    Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    CUpdateInfo& second = Stage(item, "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B, 0);
    second.m_szRunFileName = "helper.exe";   // its auxiliary program cannot be fetched
    second.m_szRunSource = "http://evil.example/zelto/zeltosetup/helper.exe";
    int restart = 0;
    EXPECT_FALSE(InstallItem(item, 1, restart));
    EXPECT_FALSE(testutil::FileExists(m_dir + "\\ZeltoTestCtl.dll")) << "the placed first file is removed";
    EXPECT_EQ("<none>", Record("\\Broken", nullptr));
    WORD code = 9;
    CUtil::CheckClassRegistration(std::string(TEST_CLSID_A).substr(1, 36).c_str(), &code);
    EXPECT_EQ(0, code) << "unregistered";
}

TEST_F(ItemInstallationTest, DeleteRegKeyTexts)
{
    CUtil::SetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoDelKey\\a\\b", "v", "1");
    EXPECT_EQ(HKEY_CURRENT_USER, RootOfKeyText("HKEY_CURRENT_USER"));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, RootOfKeyText("HKEY_LOCAL")) << "the first name that begins with it";
    EXPECT_EQ(nullptr, RootOfKeyText(""));
    EXPECT_EQ(nullptr, RootOfKeyText("HKCU"));

    CUpdateSet item;
    item.m_strName = "Keys";
    CUpdateInfo& file = Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 0);
    file.m_szDeleteRegKey = "HKEY_CURRENT_USER\\Software\\ZeltoDelKey";
    testutil::TestLog log(1);
    int restart = 0;
    EXPECT_TRUE(InstallProcess(file, "Keys", 1, FALSE, restart));
    EXPECT_EQ("gone", CUtil::GetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoDelKey\\a\\b", "v", "gone"));

    for (const char* text : {"HKEY_BOGUS\\Software\\x", "\\Software", "HKEY_CURRENT_USER\\"}) {
        CUpdateInfo other;
        other.m_szName = "none.dll";
        other.m_szDestFileName = m_dir + "\\none.dll";
        other.m_szDeleteRegKey = text;
        InstallProcess(other, "Keys", 1, FALSE, restart);
        EXPECT_TRUE(log.Has(std::string("[InstallProcess] DeleteRegKey Failed(") + text + ")")) << text;
    }
    CRegKey software;
    EXPECT_EQ(ERROR_SUCCESS, software.Open(HKEY_CURRENT_USER, "Software")) << "nothing of the root was touched";
}

}  // namespace
