#include "net/StatSender.h"

#include "base/Log.h"
#include "ContentServer.h"

#include <gtest/gtest.h>

namespace {

const char kMain[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Main";

class StatSenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running());
        m_server.SetRules(R"({"cc.zelto.com/cc": {"body": "ok"}, "static.zelto.com/app/logrd.qrv": {"body": "ok"}})");
        m_server.ClearRequests();
    }
    void TearDown() override
    {
        m_server.ClearRules();
    }
    std::string LastUrl() const
    {
        auto urls = m_server.RequestedUrls();
        return urls.empty() ? std::string() : urls.back();
    }
    std::string Log() const { return m_log.Contents(); }
    void SetStartPage(const char* page)
    {
        testutil::SetRegistryValue(HKEY_CURRENT_USER, kMain, "Start Page", REG_SZ, page,
                                   static_cast<DWORD>(lstrlenA(page) + 1));
    }

    testutil::ContentServer m_server;
    testutil::TestLog m_log{1};
    testutil::RegistryValueGuard m_startPage{HKEY_CURRENT_USER, kMain, "Start Page"};
};

TEST_F(StatSenderTest, ClickCountPings)
{
    CStatSender::SendStartPageCount();
    EXPECT_EQ("http://cc.zelto.com/cc?a=gin.mkhome&r=&i=&nsc=ombrix.all&m=0&u=about%3Ablank", LastUrl());
    CStatSender::SendSearchEngineCount();
    EXPECT_EQ("http://cc.zelto.com/cc?a=gin.mksearch&r=&i=&nsc=ombrix.all&m=0&u=about%3Ablank", LastUrl());
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("[ZeltoSetup][CStatSender::SendStartPageCount] Send URL : "
                                          "[http://cc.zelto.com/cc?a=gin.mkhome&r=&i=&nsc=ombrix.all&m=0&u=about%3Ablank] SUCCESS\r\n"));
    EXPECT_NE(std::string::npos, log.find("[CStatSender::SendSearchEngineCount] Send URL : ["));

    m_server.ClearRules();
    CStatSender::SendStartPageCount();
    EXPECT_NE(std::string::npos, Log().find("about%3Ablank] FAILED\r\n"));
}

TEST_F(StatSenderTest, BeforeStartPageReportsTheReplacedDomain)
{
    SetStartPage("http://www.other.co.kr/index.html?x=1");
    CStatSender::SendBeforeStartPage();
    EXPECT_EQ("http://static.zelto.com/app/logrd.qrv?d=www.other.co.kr", LastUrl());
    EXPECT_NE(std::string::npos, Log().find("[CStatSender::SendBeforeStartPage] Send URL : "
                                            "[http://static.zelto.com/app/logrd.qrv?d=www.other.co.kr] SUCCESS"));

    SetStartPage("about:blank");
    CStatSender::SendBeforeStartPage();
    EXPECT_EQ("http://static.zelto.com/app/logrd.qrv?d=about:blank", LastUrl());

    SetStartPage("just some words");
    m_server.ClearRequests();
    CStatSender::SendBeforeStartPage();
    EXPECT_EQ("http://static.zelto.com/app/logrd.qrv?d=", LastUrl()) << "an empty domain is still sent";
    EXPECT_NE(std::string::npos, Log().find("[CStatSender::SendBeforeStartPage] ExtractDomainFromURL ERROR = just some words"));

    DWORD number = 5;
    testutil::SetRegistryValue(HKEY_CURRENT_USER, kMain, "Start Page", REG_DWORD, &number, 4);
    m_server.ClearRequests();
    CStatSender::SendBeforeStartPage();
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_NE(std::string::npos,
              Log().find("[CStatSender::SendBeforeStartPage] Can`t get registry value about Start Page"));
}

}  // namespace
