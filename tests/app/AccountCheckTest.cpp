#include "app/AccountCheck.h"
#include "sys/Platform.h"

#include <gtest/gtest.h>

namespace {

int g_tokenCalls = 0;
BOOL TokenYes() { ++g_tokenCalls; return TRUE; }
BOOL TokenNo() { ++g_tokenCalls; return FALSE; }

TEST(AccountCheck, VersionRule)
{
    EXPECT_FALSE(IsVistaOrLater(VER_PLATFORM_WIN32_NT, 5));
    EXPECT_TRUE(IsVistaOrLater(VER_PLATFORM_WIN32_NT, 6));
    EXPECT_TRUE(IsVistaOrLater(VER_PLATFORM_WIN32_NT, 10));
    EXPECT_FALSE(IsVistaOrLater(VER_PLATFORM_WIN32_WINDOWS, 6));
}

TEST(AccountCheck, WhoMayRun)
{
    g_tokenCalls = 0;
    EXPECT_TRUE(IsAccountAllowed(VER_PLATFORM_WIN32_WINDOWS, 4, &TokenNo));
    EXPECT_EQ(0, g_tokenCalls) << "a non-NT platform never asks the token";

    EXPECT_FALSE(IsAccountAllowed(VER_PLATFORM_WIN32_NT, 5, &TokenNo)) << "XP, limited account";
    EXPECT_TRUE(IsAccountAllowed(VER_PLATFORM_WIN32_NT, 5, &TokenYes)) << "XP, administrator";
    EXPECT_TRUE(IsAccountAllowed(VER_PLATFORM_WIN32_NT, 6, &TokenNo)) << "NT 6 passes every account";
}

}  // namespace
