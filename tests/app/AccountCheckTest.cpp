#include "app/AccountCheck.h"
#include "sys/Platform.h"
#include "MessageBoxCloser.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int g_tokenCalls = 0;
BOOL TokenYes() { ++g_tokenCalls; return TRUE; }
BOOL TokenNo() { ++g_tokenCalls; return FALSE; }

TEST(AccountCheck, WhoMayRun)
{
    EXPECT_FALSE(IsVistaOrLater(VER_PLATFORM_WIN32_NT, 5));
    EXPECT_TRUE(IsVistaOrLater(VER_PLATFORM_WIN32_NT, 6));
    EXPECT_FALSE(IsVistaOrLater(VER_PLATFORM_WIN32_WINDOWS, 6));

    g_tokenCalls = 0;
    EXPECT_TRUE(IsAccountAllowed(VER_PLATFORM_WIN32_WINDOWS, 4, &TokenNo));
    EXPECT_EQ(0, g_tokenCalls) << "a non-NT platform never asks the token";
    EXPECT_TRUE(IsAccountAllowed(VER_PLATFORM_WIN32_NT, 5, &TokenYes)) << "XP, administrator";
    EXPECT_TRUE(IsAccountAllowed(VER_PLATFORM_WIN32_NT, 6, &TokenNo)) << "NT 6 passes every account";

    // XP and a limited account: refused, and told why.
    testutil::MessageBoxCloser closer;
    EXPECT_FALSE(AccountMayRun(VER_PLATFORM_WIN32_NT, 5, &TokenNo));
    ASSERT_EQ(1u, closer.Texts().size()) << "one message";
    EXPECT_EQ(0u, closer.Texts()[0].find("윈도우 사용자 계정 유형이 컴퓨터 관리자 계정이 아닙니다.")) << closer.Texts()[0];
    EXPECT_TRUE(AccountMayRun(VER_PLATFORM_WIN32_NT, 5, &TokenYes));
    EXPECT_EQ(1u, closer.Texts().size()) << "no message for an administrator";
}

// The group list of a token: the built-in Administrators or Power Users
// alias lets the account run, whatever the attributes; other groups,
// including ones whose last number is the same, do not.
TEST(AccountCheck, GroupsOfTheToken)
{
    auto sid = [](std::vector<BYTE>& store, BYTE authority, std::vector<DWORD> parts) {
        SID_IDENTIFIER_AUTHORITY id = {{0, 0, 0, 0, 0, authority}};
        store.assign(SECURITY_MAX_SID_SIZE, 0);
        ::InitializeSid(store.data(), &id, static_cast<BYTE>(parts.size()));
        for (size_t i = 0; i < parts.size(); ++i) *::GetSidSubAuthority(store.data(), static_cast<DWORD>(i)) = parts[i];
        return static_cast<PSID>(store.data());
    };
    std::vector<BYTE> everyone, users, domainAdmins, operators, admins, power;
    PSID common[] = {sid(everyone, 1, {0}), sid(users, 5, {32, 545}), sid(domainAdmins, 5, {21, 1, 2, 3, 544}),
                     sid(operators, 5, {32, 548})};
    struct Case { PSID extra; DWORD attributes; bool allowed; const char* what; };
    for (const Case& c : {Case{nullptr, 0, false, "users only"},
                          Case{sid(admins, 5, {32, 544}), SE_GROUP_ENABLED, true, "administrators"},
                          Case{admins.data(), SE_GROUP_USE_FOR_DENY_ONLY, true, "administrators, deny-only"},
                          Case{sid(power, 5, {32, 547}), SE_GROUP_ENABLED, true, "power users"}}) {
        std::vector<BYTE> buffer(sizeof(TOKEN_GROUPS) + 5 * sizeof(SID_AND_ATTRIBUTES));
        auto* groups = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
        for (PSID group : common) groups->Groups[groups->GroupCount++] = {group, SE_GROUP_ENABLED};
        if (c.extra) groups->Groups[groups->GroupCount++] = {c.extra, c.attributes};
        EXPECT_EQ(c.allowed, GroupsHoldAdminOrPowerUsers(*groups) != FALSE) << c.what;
    }
    EXPECT_TRUE(TokenHasAdminOrPowerUsers()) << "Wine's user is an administrator";
}

}  // namespace
