#include "ui/InstallNotificationDlg.h"

#include "catalogue/UpdateInfoMgr.h"
#include "ContentServer.h"
#include "DialogDriver.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

#include <ZeltoConfig.h>

#include <gtest/gtest.h>

#include <ole2.h>

#include <algorithm>
#include <functional>

namespace {

const char kMain[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Main";
const char kVector[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector";
const char kQrv[] = "SOFTWARE\\QRV Corporation";

struct Seen {
    bool startVisible = false, startEnabled = false, startChecked = false, noShowVisible = false;
    RECT startRect = {}, noShowRect = {};
    std::string title;
};

// What the question box shows: its lines, whether the last one is inside
// the box, and whether it can be scrolled.
struct QuestionBox {
    int lines = 0, lastY = 0, height = 0, infoHeight = 0;
    bool allVisible = false, enabled = false;
};

QuestionBox Measure(HWND dialog)
{
    HWND question = ::GetDlgItem(dialog, 1015);
    QuestionBox box;
    box.lines = static_cast<int>(::SendMessageA(question, EM_GETLINECOUNT, 0, 0));
    RECT client, info;
    ::GetClientRect(question, &client);
    ::GetWindowRect(::GetDlgItem(dialog, 1013), &info);
    box.height = client.bottom;
    box.infoHeight = info.bottom - info.top;
    POINTL top = {}, last = {};
    const LPARAM end = ::GetWindowTextLengthA(question) - 1;
    ::SendMessageA(question, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&top), 0);
    ::SendMessageA(question, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&last), end);
    box.lastY = static_cast<int>(last.y);
    const int lineHeight = box.lines > 1 ? static_cast<int>((last.y - top.y) / (box.lines - 1)) : 15;
    box.allVisible = ::SendMessageA(question, EM_GETFIRSTVISIBLELINE, 0, 0) == 0 && top.y >= 0 &&
                     last.y + lineHeight <= client.bottom + 1;
    box.enabled = ::IsWindowEnabled(question) != FALSE;
    return box;
}

class InstallNotificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);   // the dialog loads its rich-edit library itself
        ASSERT_TRUE(m_server.Running());
        m_server.SetRules(R"({"cc.zelto.com/cc": {"body": "ok"}, "static.zelto.com/app/logrd.qrv": {"body": "ok"}})");
        m_server.ClearRequests();
        CUpdateInfoMgr::DeleteInstance();
        // In a run the catalogue step has made the staging folder by now.
        CUtil::CreateRecursiveDirectory(CUtil::GetStagingFolder().c_str());
        AddItem("ZeltoTestCtl", "first description");
    }
    void TearDown() override
    {
        CUpdateInfoMgr::DeleteInstance();
        m_server.ClearRules();
        ::CoUninitialize();
    }
    void AddItem(const char* name, const char* description)
    {
        auto item = std::make_unique<CUpdateSet>();
        item->m_strName = name;
        item->m_strDescription = description;
        CUpdateInfoMgr::GetInstance()->Items().push_back(std::move(item));
    }
    void Browser(const char* version)
    {
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, kVector, "IE", version);
        CUtil::InitSystemFolders();
    }
    // Runs the dialog, looks at it while it is up, then posts the command.
    INT_PTR Run(WORD command, Seen& seen, std::function<void(HWND)> act = nullptr)
    {
        CInstallNotificationDlg dialog;
        testutil::DialogDriver driver(WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), [&](HWND wnd) {
            HWND start = ::GetDlgItem(wnd, 1009), noShow = ::GetDlgItem(wnd, 1010);
            seen.startVisible = ::IsWindowVisible(start) != 0;
            seen.startEnabled = ::IsWindowEnabled(start) != 0;
            seen.startChecked = ::SendMessageA(start, BM_GETCHECK, 0, 0) == BST_CHECKED;
            seen.noShowVisible = ::IsWindowVisible(noShow) != 0;
            ::GetWindowRect(start, &seen.startRect);
            ::MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&seen.startRect), 2);
            ::GetWindowRect(noShow, &seen.noShowRect);
            ::MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&seen.noShowRect), 2);
            if (act) act(wnd);
        });
        INT_PTR result = dialog.DoModal();
        for (const auto& e : dialog.Elements())
            if (e->id == 1007) seen.title = e->text;
        return result;
    }

    testutil::ContentServer m_server;
    testutil::RegistryValueGuard m_startPage{HKEY_CURRENT_USER, kMain, "Start Page"};
    testutil::RegistryValueGuard m_ie{HKEY_LOCAL_MACHINE, kVector, "IE"};
    testutil::RegistryValueGuard m_noShow{HKEY_CURRENT_USER, kQrv, "NoShowIfUpdate"};
};

// The start-page offer shows unless the portal already is the start page
// and, from browser 7 on, also the default search; the options document can
// hide it too. The update offer moves up into a hidden offer's place.
TEST_F(InstallNotificationTest, StartPageOfferRule)
{
    const char kScopes[] = "SOFTWARE\\Microsoft\\Internet Explorer\\SearchScopes";
    const std::string scope = std::string(kScopes) + "\\ZeltoOfferTest";
    testutil::RegistryValueGuard defaultScope(HKEY_CURRENT_USER, kScopes, "DefaultScope");
    CUtil::SetProfileString(HKEY_CURRENT_USER, scope.c_str(), "DisplayName", "Zelto");
    CUtil::SetProfileString(HKEY_CURRENT_USER, scope.c_str(), "URL", ZELTO_SEARCH_URL);
    const char hideStartPage[] = R"({"static.zelto.com/app/conf/confExposure.xml":
        {"body": "<OmbrixConf><showStartPageAndSearch>false</showStartPageAndSearch></OmbrixConf>"}})";
    struct Case { const char* browser; bool portalStart, portalSearch, documentHides, offered; };
    for (const Case& c : {Case{"6.0", true, false, false, false}, Case{"6.0", false, true, false, true},
                          Case{"8.0", true, false, false, true}, Case{"8.0", true, true, false, false},
                          Case{"8.0", false, true, false, true}, Case{"8.0", false, false, true, false}}) {
        SCOPED_TRACE(std::string("browser ") + c.browser + (c.portalStart ? ", portal start page" : "") +
                     (c.portalSearch ? ", portal search" : "") + (c.documentHides ? ", hidden by the document" : ""));
        Browser(c.browser);
        CUtil::SetProfileString(HKEY_CURRENT_USER, kMain, "Start Page",
                                c.portalStart ? "http://www.zelto.com/" : "http://www.other.com/");
        CUtil::SetProfileString(HKEY_CURRENT_USER, kScopes, "DefaultScope", c.portalSearch ? "ZeltoOfferTest" : "none");
        m_server.SetRules(c.documentHides ? hideStartPage : "{}");
        CUtil::SetProfileInteger(HKEY_CURRENT_USER, kQrv, "NoShowIfUpdate", 1);
        m_server.ClearRequests();
        Seen seen;
        EXPECT_EQ(IDOK, Run(IDOK, seen, [](HWND wnd) {
            ::SendMessageA(::GetDlgItem(wnd, 1010), BM_SETCHECK, BST_UNCHECKED, 0);
            ::SendMessageA(::GetDlgItem(wnd, 1009), BM_SETCHECK, BST_UNCHECKED, 0);   // nothing changes the settings
        }));
        EXPECT_EQ(c.offered, seen.startVisible);
        EXPECT_EQ(c.offered, seen.startChecked && seen.startEnabled);
        EXPECT_TRUE(seen.noShowVisible);
        EXPECT_EQ(c.offered ? 249 : 231, seen.noShowRect.top);
        if (c.offered) {
            EXPECT_EQ(231, seen.startRect.top);
        }
        EXPECT_EQ(99u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, kQrv, "NoShowIfUpdate", 99)) << "cleared by OK";
        for (const auto& url : m_server.RequestedUrls())
            EXPECT_EQ(std::string::npos, url.find("cc.zelto.com")) << "no ping: " << url;
        EXPECT_FALSE(m_server.RequestedUrls().empty()) << "the options document was asked for";
    }
    DeleteKeyTree(HKEY_CURRENT_USER, scope.c_str());
}

TEST_F(InstallNotificationTest, OptionsDocumentTurnsOffTheUpdateOffer)
{
    Browser("8.0");
    m_server.SetRules(R"({"static.zelto.com/app/conf/confExposure.xml":
        {"body": "<OmbrixConf><showUpdateWindow>false</showUpdateWindow></OmbrixConf>"}})");
    AddItem("Second", "second description");
    testutil::TestLog log(2);
    Seen seen;
    EXPECT_EQ(IDCANCEL, Run(IDCANCEL, seen));
    EXPECT_TRUE(seen.startVisible);
    EXPECT_EQ(231, seen.startRect.top);
    EXPECT_FALSE(seen.noShowVisible) << log.Contents();
    EXPECT_EQ("Second", seen.title) << "the last item's name is the title";
}

TEST_F(InstallNotificationTest, BothOffersOffKeepTheStoredFlag)
{
    Browser("8.0");
    m_server.SetRules(R"({"static.zelto.com/app/conf/confExposure.xml": {"body":
        "<OmbrixConf><showUpdateWindow>false</showUpdateWindow><showStartPageAndSearch>false</showStartPageAndSearch></OmbrixConf>"}})");
    CUtil::SetProfileInteger(HKEY_CURRENT_USER, kQrv, "NoShowIfUpdate", 1);
    Seen seen;
    EXPECT_EQ(IDOK, Run(IDOK, seen));
    EXPECT_FALSE(seen.startVisible);
    EXPECT_FALSE(seen.noShowVisible);
    EXPECT_EQ(1u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, kQrv, "NoShowIfUpdate", 0))
        << "the hidden box kept the stored value, written back unchanged";
}

TEST_F(InstallNotificationTest, InstallWithTheOfferSetsStartPageAndSearchWithPingsInOrder)
{
    Browser("8.0");
    CUtil::SetProfileString(HKEY_CURRENT_USER, kMain, "Start Page", "http://www.other.com/");
    Seen seen;
    EXPECT_EQ(IDOK, Run(IDOK, seen, [](HWND wnd) {
        ::SendMessageA(::GetDlgItem(wnd, 1010), BM_SETCHECK, BST_CHECKED, 0);
    }));
    EXPECT_TRUE(seen.startChecked);
    EXPECT_EQ(ZELTO_HOME_URL, CUtil::GetProfileString(HKEY_CURRENT_USER, kMain, "Start Page", ""));
    EXPECT_EQ(1u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, kQrv, "NoShowIfUpdate", 0));
    auto urls = m_server.RequestedUrls();
    ASSERT_GE(urls.size(), 4u);
    EXPECT_EQ("http://static.zelto.com/app/logrd.qrv?d=www.other.com", urls[urls.size() - 3]);
    EXPECT_NE(std::string::npos, urls[urls.size() - 2].find("a=gin.mkhome"));
    EXPECT_NE(std::string::npos, urls[urls.size() - 1].find("a=gin.mksearch"));
}

TEST_F(InstallNotificationTest, QuestionAndInformationNameEveryItem)
{
    // The second item's publisher is on the browser's untrusted list, the
    // first one's is not.
    const char untrusted[] = "Software\\Microsoft\\Internet Explorer\\UntrustedPublishers\\ZeltoNotifyTest";
    CUtil::SetProfileString(HKEY_CURRENT_USER, untrusted, "Publisher", "Shady Corp");
    CUpdateInfoMgr::GetInstance()->Items()[0]->m_strPublisher = "QRV Corporation";
    AddItem("ZeltoViewer", "second description");
    CUpdateInfoMgr::GetInstance()->Items()[1]->m_strPublisher = "Shady Corp";
    Browser("8.0");
    std::string question, info;
    Seen seen;
    QuestionBox box;
    Run(IDCANCEL, seen, [&](HWND wnd) {
        char text[4096] = "";
        ::GetWindowTextA(::GetDlgItem(wnd, 1015), text, sizeof(text));
        question = text;
        ::GetWindowTextA(::GetDlgItem(wnd, 1013), text, sizeof(text));
        info = text;
        box = Measure(wnd);
    });
    DeleteKeyTree(HKEY_CURRENT_USER, untrusted);
    EXPECT_GE(box.lines, 2);
    EXPECT_TRUE(box.allVisible) << box.lines << " lines, the last one at y " << box.lastY << " of " << box.height;
    EXPECT_FALSE(box.enabled) << "nothing to scroll";
    auto lines = [](std::string text) {   // line breaks as '\n', whatever the control returns
        text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
        std::replace(text.begin(), text.end(), '\r', '\n');
        return text;
    };
    EXPECT_NE(std::string::npos, lines(question).find("?\n젤토에서 배포하는 ZeltoViewer")) << "a line of its own";
    EXPECT_NE(std::string::npos, lines(info).find("first description\n\n\n")) << "a blank line before the next item";
    EXPECT_GE(box.infoHeight, 40) << "the information box keeps room";

    EXPECT_NE(std::string::npos, question.find("젤토에서 배포하는 ZeltoTestCtl 프로그램을 설치하시겠습니까?")) << question;
    EXPECT_NE(std::string::npos, question.find("젤토에서 배포하는 ZeltoViewer 프로그램을 설치하시겠습니까?")) << question;
    EXPECT_NE(std::string::npos, info.find("first description"));
    EXPECT_NE(std::string::npos, info.find("second description"));
    const std::string sentence = "에서 배포한 소프트웨어를 설치하지 않음으로 설정되어 있습니다.";
    EXPECT_NE(std::string::npos, info.find("Shady Corp" + sentence)) << "the untrusted publisher is named";
    EXPECT_EQ(info.find(sentence), info.rfind(sentence)) << "the sentence appears for that item only";
    EXPECT_EQ(std::string::npos, info.find("QRV Corporation" + sentence));
}

TEST_F(InstallNotificationTest, ManyItemsScrollTheQuestion)
{
    for (const char* name : {"ZeltoSecondControl", "ZeltoThirdControl", "ZeltoFourthControl", "ZeltoFifthControl"})
        AddItem(name, "more");
    Browser("8.0");
    Seen seen;
    QuestionBox box;
    Run(IDCANCEL, seen, [&](HWND wnd) { box = Measure(wnd); });
    EXPECT_GE(box.lines, 5);
    EXPECT_TRUE(box.enabled) << "more than fits: the box can be scrolled";
    EXPECT_GE(box.height, 60) << "grown as far as it may";
    EXPECT_GE(box.infoHeight, 40) << "the information box keeps room";
}

TEST_F(InstallNotificationTest, CancelLeavesNoShowIfUpdateAlone)
{
    {
        CRegKey qrv;   // no flag to begin with, whatever an earlier run left
        if (qrv.Open(HKEY_CURRENT_USER, kQrv) == ERROR_SUCCESS) qrv.DeleteValue("NoShowIfUpdate");
    }
    Browser("8.0");
    Seen seen;
    EXPECT_EQ(IDCANCEL, Run(1014, seen, [](HWND wnd) {
        ::SendMessageA(::GetDlgItem(wnd, 1010), BM_SETCHECK, BST_CHECKED, 0);
    }));
    EXPECT_EQ(99u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, kQrv, "NoShowIfUpdate", 99));
}

}  // namespace
