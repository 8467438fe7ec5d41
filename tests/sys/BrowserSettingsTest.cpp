#include "sys/BrowserSettings.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <ZeltoConfig.h>

#include <gtest/gtest.h>

#include <ole2.h>

namespace {

const char kIE[] = "SOFTWARE\\Microsoft\\Internet Explorer";
const char kMain[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Main";
const char kScopes[] = "SOFTWARE\\Microsoft\\Internet Explorer\\SearchScopes";

// Saves the browser's per-user keys that these tests change and puts them back.
class BrowserSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        CRegKey ie;
        ie.Create(HKEY_CURRENT_USER, kIE);
        ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\ZeltoSavedIE");
        ::RegCopyTreeA(ie.get(), nullptr, Saved());
        ie.RecurseDeleteKey("SearchScopes");
        ie.RecurseDeleteKey("UntrustedPublishers");
        CRegKey main;
        main.Create(HKEY_CURRENT_USER, kMain);
        main.DeleteValue("Start Page");
        main.DeleteValue("Secondary Start Pages");
    }
    void TearDown() override
    {
        CRegKey software;
        software.Open(HKEY_CURRENT_USER, "Software\\Microsoft");
        software.RecurseDeleteKey("Internet Explorer");
        CRegKey ie;
        ie.Create(HKEY_CURRENT_USER, kIE);
        ::RegCopyTreeA(Saved(), nullptr, ie.get());
        ::RegCloseKey(m_saved);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZeltoSavedIE");
        ::CoUninitialize();
    }
    HKEY Saved()
    {
        if (!m_saved) ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ZeltoSavedIE", 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, &m_saved, nullptr);
        return m_saved;
    }
    static void StartPage(const char* page) { CUtil::SetProfileString(HKEY_CURRENT_USER, kMain, "Start Page", page); }
    HKEY m_saved = nullptr;
};

TEST(HomePatterns, PortalAddresses)
{
    for (const char* yes : {"zelto.com", "http://zelto.com", "http://www.zelto.com/", "HTTP://WWW.ZELTO.COM//",
                            "www.zelto.co.kr", "http://zelto.co.kr/", "jr.zelto.com", "http://jr.zelto.com/",
                            "http://http://zelto.com"})
        EXPECT_TRUE(browser::IsPortalHomeUrl(yes)) << yes;
    for (const char* no : {"https://www.zelto.com/", "http://www.zelto.com/news", "http://www.zelto.com/?q=1",
                           "http://evilzelto.com/", "http://www.zelto.com.evil.net/", "http://mail.zelto.com/",
                           "jr.zelto.co.kr", "", "http://jr.www.zelto.com/"})
        EXPECT_FALSE(browser::IsPortalHomeUrl(no)) << no;

    // Registry texts reach 32,000 bytes: matched without recursion, and
    // nothing longer than a browser's longest URL is the portal.
    std::string repeated;
    for (int i = 0; i < 280; ++i) repeated += "http://";
    EXPECT_TRUE(browser::IsPortalHomeUrl((repeated + "jr.jr.zelto.comcom/").c_str()));
    std::string huge;
    while (huge.size() < 32000) huge += "www.";
    EXPECT_FALSE(browser::IsPortalHomeUrl((huge + "zelto.com").c_str()));
}

TEST_F(BrowserSettingsTest, StartPages)
{
    EXPECT_FALSE(browser::IsStartPagePortal()) << "no start page at all";
    StartPage("http://www.other.com/");
    EXPECT_FALSE(browser::IsStartPagePortal()) << "no secondary pages";
    const char pages[] = "http://a.com/\0http://www.zelto.co.kr/\0";
    testutil::SetRegistryValue(HKEY_CURRENT_USER, kMain, "Secondary Start Pages", REG_MULTI_SZ, pages, sizeof(pages));
    EXPECT_TRUE(browser::IsStartPagePortal()) << "a secondary page of the national site";

    CRegKey main;
    main.Open(HKEY_CURRENT_USER, kMain);
    main.DeleteValue("Secondary Start Pages");
    EXPECT_TRUE(browser::SetStartPagePortal());
    EXPECT_EQ(ZELTO_HOME_URL, CUtil::GetProfileString(HKEY_CURRENT_USER, kMain, "Start Page", ""));
    EXPECT_TRUE(browser::IsStartPagePortal());
}

TEST_F(BrowserSettingsTest, DefaultScopeIsCreatedOnceThenFound)
{
    CUtil::SetProfileString(HKEY_CURRENT_USER, (std::string(kScopes) + "\\other").c_str(), "DisplayName", "Other");
    EXPECT_FALSE(browser::IsPortalDefaultScope());
    EXPECT_TRUE(browser::SetPortalDefaultScope());
    std::string scope = CUtil::GetProfileString(HKEY_CURRENT_USER, kScopes, "DefaultScope", "");
    ASSERT_EQ(38u, scope.size()) << scope;
    EXPECT_EQ('{', scope[0]);
    EXPECT_TRUE(browser::IsPortalDefaultScope());
    EXPECT_EQ(ZELTO_FAVICON_URL, CUtil::GetProfileString(HKEY_CURRENT_USER, (std::string(kScopes) + "\\" + scope).c_str(),
                                                         "FaviconURLFallback", ""));

    CUtil::SetProfileString(HKEY_CURRENT_USER, kScopes, "DefaultScope", "other");
    EXPECT_TRUE(browser::SetPortalDefaultScope());
    EXPECT_EQ(scope, CUtil::GetProfileString(HKEY_CURRENT_USER, kScopes, "DefaultScope", "")) << "found, not made again";
}

TEST_F(BrowserSettingsTest, PortalScopeWithAnotherUrlIsRewritten)
{
    const std::string path = std::string(kScopes) + "\\mine";
    CUtil::SetProfileString(HKEY_CURRENT_USER, path.c_str(), "DisplayName", "ZELTO");
    CUtil::SetProfileString(HKEY_CURRENT_USER, path.c_str(), "URL", "http://old.example/?q={searchTerms}");
    EXPECT_TRUE(browser::IsPortalScopeName("mine")) << "the name ignores case";
    EXPECT_FALSE(browser::IsPortalScopeUrl("mine"));
    CUtil::SetProfileString(HKEY_CURRENT_USER, kScopes, "DefaultScope", "mine");
    EXPECT_FALSE(browser::IsPortalDefaultScope()) << "the portal's name with another URL is not the portal's scope";
    EXPECT_TRUE(browser::SetPortalDefaultScope());
    EXPECT_EQ("mine", CUtil::GetProfileString(HKEY_CURRENT_USER, kScopes, "DefaultScope", ""));
    EXPECT_EQ(ZELTO_SEARCH_URL, CUtil::GetProfileString(HKEY_CURRENT_USER, path.c_str(), "URL", ""));
    EXPECT_FALSE(browser::IsPortalScopeName(nullptr));
}

TEST_F(BrowserSettingsTest, UntrustedPublishersMatchExactly)
{
    CUtil::SetProfileString(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\UntrustedPublishers\\1",
                            "Publisher", "QRV Corporation");
    EXPECT_TRUE(browser::IsUntrustedPublisher("QRV Corporation"));
    EXPECT_FALSE(browser::IsUntrustedPublisher("qrv corporation")) << "letter case counts";
    EXPECT_FALSE(browser::IsUntrustedPublisher("Other"));
}

}  // namespace
