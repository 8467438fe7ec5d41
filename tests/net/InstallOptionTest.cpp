#include "net/HttpUtil.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "ContentServer.h"
#include "sys/Util.h"

#include <gtest/gtest.h>

namespace {

class InstallOptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running());
        CUtil::InitSystemFolders();
        // In a run the catalogue step has made the staging folder by now.
        CUtil::CreateRecursiveDirectory(CUtil::GetStagingFolder().c_str());
        m_server.ClearRules();
        m_server.ClearRequests();
        m_local = CUtil::GetStagingFolder() + "\\confSetup.xml";
    }
    void TearDown() override
    {
        m_server.ClearRules();
        ::DeleteFileA(m_local.c_str());
    }
    // Serves body as the options document and returns the two flags.
    std::pair<int, int> Options(const std::string& body)
    {
        std::string escaped;
        for (char c : body) { if (c == '"' || c == '\\') escaped += '\\'; escaped += c; }
        m_server.SetRules("{\"static.zelto.com/app/conf/confExposure.xml\": {\"body\": \"" + escaped + "\"}}");
        BYTE start = 1, update = 1;
        CHttpUtil::GetInstallOption(&start, &update);
        return {start, update};
    }

    testutil::ContentServer m_server;
    std::string m_local;
    testutil::TestLog m_log{2};
};

TEST_F(InstallOptionTest, OnlyTheExactWordFalseSwitchesAnOptionOff)
{
    EXPECT_EQ(std::make_pair(0, 0), Options("<OmbrixConf><showStartPageAndSearch>false</showStartPageAndSearch>"
                                            "<showUpdateWindow>false</showUpdateWindow></OmbrixConf>"));
    EXPECT_FALSE(testutil::FileExists(m_local)) << "the local copy is deleted after reading";
    EXPECT_EQ(std::make_pair(1, 0), Options("<OmbrixConf><showUpdateWindow>false</showUpdateWindow></OmbrixConf>"));
    EXPECT_EQ(std::make_pair(1, 1), Options("<OmbrixConf><showStartPageAndSearch>False</showStartPageAndSearch>"
                                            "<showUpdateWindow> false</showUpdateWindow></OmbrixConf>"));
    EXPECT_EQ(std::make_pair(1, 1), Options("<Other><showUpdateWindow>false</showUpdateWindow></Other>"));
    EXPECT_EQ(std::make_pair(1, 1), Options("<OmbrixConf><showUpdateWindow/></OmbrixConf>"));

    auto urls = m_server.RequestedUrls();
    ASSERT_FALSE(urls.empty());
    EXPECT_EQ("http://static.zelto.com/app/conf/confExposure.xml", urls[0])
        << "the options document is exempt from the trust check";
}

TEST_F(InstallOptionTest, FailuresOfferBothOptions)
{
    m_server.SetRules(R"({"static.zelto.com/app/conf/confExposure.xml": {"status": 503}})");
    BYTE start = 1, update = 1;
    CHttpUtil::GetInstallOption(&start, &update);
    EXPECT_EQ(1, start);
    EXPECT_EQ(1, update);
    EXPECT_NE(std::string::npos, m_log.Contents().find("[CHttpUtil::GetInstallOption] Donload XML file failed"));

    EXPECT_EQ(std::make_pair(1, 1), Options("<OmbrixConf><showUpdateWindow>false"));
    EXPECT_NE(std::string::npos,
              m_log.Contents().find("[CHttpUtil::GetInstallOption] Invalid XML File (parse_file failed)"));
    EXPECT_EQ(ERR_XML_PARSE, LastError.dwAppError);
}

}  // namespace
