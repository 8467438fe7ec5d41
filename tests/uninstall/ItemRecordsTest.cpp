#include "uninstall/ItemRecords.h"

#include "install/ItemInstallation.h"
#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

class ItemRecordsTest : public ::testing::Test {
protected:
    void SetUp() override { testutil::RemoveUninstallEntry(); }
    void TearDown() override { testutil::RemoveUninstallEntry(); }
    static std::string Key(const std::string& sub) { return std::string(UNINSTALL_KEY) + sub; }
};

TEST_F(ItemRecordsTest, ReadsWhatTheInstallEngineRecords)
{
    std::vector<std::string> names;
    testutil::TestLog log(2);
    EXPECT_FALSE(ListRecordedItems(names)) << "no record root";
    EXPECT_TRUE(log.Has("[OnDialogStart] RegOpenKeyEx Failed, Error Code = "));

    CUpdateInfo file;
    file.m_szDestFileName = "C:\\Zelto\\Ctl.dll";
    file.m_bRegister = 1;
    file.m_szClassId = "A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51";
    RegistUninstaller(file, "Item One");
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, Key("\\Item One\\Odd").c_str(), "Unregister", "1");
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, Key("\\Empty").c_str(), nullptr, "");

    ASSERT_TRUE(ListRecordedItems(names));
    EXPECT_EQ((std::vector<std::string>{"Empty", "Item One"}), names);

    UninstallFileList files;
    ASSERT_TRUE(GetFileList(Key("\\Item One"), files));
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ("C:\\Zelto\\Ctl.dll", files[0]->FilePath);
    EXPECT_EQ(1, files[0]->Unregister);
    EXPECT_EQ(0, files[0]->SharedDll);
    EXPECT_EQ(file.m_szClassId, files[0]->ClassID);
    EXPECT_EQ(0, files[1]->Unregister) << "a string Unregister reads as 0";
    EXPECT_EQ("", files[1]->FilePath);
    EXPECT_TRUE(log.Has("[CDlgUninstall::GetFileList] File : C:\\Zelto\\Ctl.dll, 1, 0, A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51"));

    UninstallFileList none;
    EXPECT_TRUE(GetFileList(Key("\\Empty"), none));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(GetFileList(Key("\\Missing"), none));
    EXPECT_TRUE(log.Has("[CDlgUninstall::GetFileList] regKey.Open(" + Key("\\Missing") + ") Failed"));
}

}  // namespace
