#include "sys/UserSettings.h"

#include "sys/RegKey.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(UserSettings, NoShowIfUpdate)
{
    testutil::RegistryValueGuard guard(HKEY_CURRENT_USER, "SOFTWARE\\QRV Corporation", "NoShowIfUpdate");
    UserRoot root = SelectUserRoot("SOFTWARE\\QRV Corporation");
    EXPECT_EQ(HKEY_CURRENT_USER, root.root) << "the program runs as the session user";
    EXPECT_EQ("SOFTWARE\\QRV Corporation", root.path);
    BOOL other = TRUE;
    EXPECT_TRUE(IsRunningAsOtherUser(&other));
    EXPECT_FALSE(other);

    testutil::TestLog log(3);
    SetNoShowIfUpdate(0);
    EXPECT_FALSE(SetNoShowIfUpdate(0)) << "nothing to delete";
    EXPECT_TRUE(log.Has("[CDlgUninstall::UnregisterFiles] DeleteSubKey NoShowIfUpdate != ERROR_SUCCESS"));
    BYTE flag = 9;
    EXPECT_FALSE(GetNoShowIfUpdate(&flag));
    EXPECT_EQ(0, flag);

    EXPECT_TRUE(SetNoShowIfUpdate(1));
    EXPECT_TRUE(GetNoShowIfUpdate(&flag));
    EXPECT_EQ(1, flag);
    EXPECT_TRUE(log.Has("[CUtil::SetNoShowIfUpdate] SetDWORDValue NoShowIfUpdate == ERROR_SUCCESS"));

    DWORD two = 2;
    testutil::SetRegistryValue(HKEY_CURRENT_USER, "SOFTWARE\\QRV Corporation", "NoShowIfUpdate", REG_DWORD, &two, 4);
    EXPECT_TRUE(GetNoShowIfUpdate(&flag));
    EXPECT_EQ(0, flag) << "only 1 means set";

    EXPECT_TRUE(SetNoShowIfUpdate(0));
    EXPECT_TRUE(log.Has("[CDlgUninstall::UnregisterFiles] DeleteSubKey NoShowIfUpdate == ERROR_SUCCESS"));
}

}  // namespace
