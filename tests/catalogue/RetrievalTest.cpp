#include "catalogue/UpdateInfoMgr.h"

#include "base/LastError.h"
#include "base/Messages.h"
#include "ContentServer.h"
#include "MessageBoxCloser.h"
#include "net/StatSender.h"
#include "sys/Util.h"

#include <gtest/gtest.h>

namespace {

const char kCatalogueUrlPath[] = "/zelto/zeltosetup/Repository/zcat/zcat.xml";

class RetrievalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running());
        m_server.ClearRules();
        m_server.ClearRequests();
        CUpdateInfoMgr::DeleteInstance();
        Manager()->SetNotifyWindow(m_statuses.Window());
        CUtil::InitSystemFolders();
        m_catalogue = CUtil::GetStagingFolder() + "\\ZeltoSetup.xml";
    }
    void TearDown() override
    {
        CUpdateInfoMgr::DeleteInstance();
        ::DeleteFileA(m_catalogue.c_str());
        m_server.ClearRules();
    }
    CUpdateInfoMgr* Manager() { return CUpdateInfoMgr::GetInstance(); }
    void UseMode(const char* mode)
    {
        std::string doc = std::string("<PARAM><MODE>") + mode + "</MODE><SOURCE>http://down.zelto.com/</SOURCE>" +
                          "<SERVICENAME>cafe</SERVICENAME></PARAM>";
        ASSERT_TRUE(Manager()->ParseXMLArgument(doc.c_str()));
    }
    void Publish(const std::string& xml) { m_server.PutFile("down.zelto.com", kCatalogueUrlPath, xml); }
    std::vector<int> Statuses() { return m_statuses.Codes(); }

    testutil::ContentServer m_server;
    testutil::StatusRecorder m_statuses;
    std::string m_catalogue;
};

TEST_F(RetrievalTest, ReadsTheItemsOfTheRunMode)
{
    UseMode("zcat");
    Publish("<?xml version='1.0' encoding='euc-kr'?><ZELTOOMBRIX><UPDATELIST>"
            "<!-- a comment --><UNKNOWN/>"
            "<UPDATEITEM NAME='one'><MODE NAME='ZCAT'/><LOG NAME='cafe'>http://cc.zelto.com/cc?m=one</LOG></UPDATEITEM>"
            "<UPDATEITEM NAME='other'><MODE NAME='elsewhere'/><ADDREG TYPE='string'><ROOT>HKCU</ROOT>"
            "<KEY>Software\\ZeltoNeverRead</KEY></ADDREG></UPDATEITEM>"
            "<UPDATEITEM NAME='one'><MODE NAME='zcat'/></UPDATEITEM>"
            "</UPDATELIST></ZELTOOMBRIX>");
    EXPECT_TRUE(Manager()->LoadUpdateList());
    ASSERT_EQ(2u, Manager()->Items().size()) << "two items of the same name both stay";
    EXPECT_EQ("one", Manager()->Items()[0]->m_strName);
    EXPECT_EQ((std::vector<int>{STATUS_CATALOGUE_DOWNLOAD, STATUS_CATALOGUE_READ}), Statuses());
    EXPECT_FALSE(testutil::FileExists(m_catalogue)) << "deleted after a good read";
    EXPECT_EQ("", CUtil::GetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoNeverRead", nullptr, ""));
    EXPECT_EQ("http://down.zelto.com/zelto/zeltosetup/Repository/zcat/zcat.xml", m_server.RequestedUrls().at(0));

    // Only the last item's tag counts: here it has none, so no ping.
    m_server.ClearRequests();
    CStatSender::SendModuleInstallCount(Manager()->GetModuleInstallTag());
    EXPECT_TRUE(m_server.Requests().empty());
    Manager()->Items()[1]->m_mapLog["cafe"] = "http://cc.zelto.com/cc?m=last";
    m_server.SetRules(R"({"cc.zelto.com/cc": {"body": "ok"}})");
    CStatSender::SendModuleInstallCount(Manager()->GetModuleInstallTag());
    EXPECT_EQ((std::vector<std::string>{"http://cc.zelto.com/cc?m=last"}), m_server.RequestedUrls());
}

TEST_F(RetrievalTest, ItemsWithoutAUsableNameAreRefusedWhole)
{
    // Their records would be the program's own entry or another item's key.
    UseMode("zcat");
    testutil::TestLog log(1);
    Publish("<ZELTOOMBRIX><UPDATELIST>"
            "<UPDATEITEM><MODE NAME='zcat'/><ADDREG TYPE='string'><ROOT>HKCU</ROOT><KEY>Software\\ZeltoNoName</KEY>"
            "<VALUE_NAME>v</VALUE_NAME><VALUE>1</VALUE></ADDREG></UPDATEITEM>"
            "<UPDATEITEM NAME='a\\b'><MODE NAME='zcat'/></UPDATEITEM>"
            "</UPDATELIST></ZELTOOMBRIX>");
    EXPECT_TRUE(Manager()->LoadUpdateList());
    EXPECT_TRUE(Manager()->Items().empty());
    EXPECT_EQ("none", CUtil::GetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoNoName", "v", "none"))
        << "nothing of a refused item is applied";
    EXPECT_TRUE(log.Has("[CreateUpdateList] Invalid Item Name (ItemName = )"));
    EXPECT_TRUE(log.Has("[CreateUpdateList] Invalid Item Name (ItemName = a\\b)"));
}

TEST_F(RetrievalTest, EmptyListsAreGoodCatalogues)
{
    UseMode("zcat");
    Publish("<ZELTOOMBRIX><UPDATELIST><UPDATEITEM NAME='x'><MODE NAME='other'/></UPDATEITEM></UPDATELIST></ZELTOOMBRIX>");
    EXPECT_TRUE(Manager()->LoadUpdateList());
    EXPECT_TRUE(Manager()->Items().empty());
    EXPECT_FALSE(testutil::FileExists(m_catalogue));
}

TEST_F(RetrievalTest, UnreadableCataloguesShowTheListMessage)
{
    UseMode("zcat");
    testutil::MessageBoxCloser closer;
    Publish("<ZELTOOMBRIX><UPDATE");
    EXPECT_FALSE(Manager()->LoadUpdateList());
    EXPECT_EQ(ERR_XML_PARSE, LastError.dwAppError);
    EXPECT_TRUE(testutil::FileExists(m_catalogue)) << "a file that did not parse stays";

    RecordLastError(0, 0);
    Publish("<ZELTOOMBRIX><LIST/></ZELTOOMBRIX>");
    EXPECT_FALSE(Manager()->LoadUpdateList());
    EXPECT_EQ(0u, LastError.dwAppError) << "a missing list leaves LastError alone";
    EXPECT_EQ((std::vector<int>{21, 22, 101, 21, 22, 101}), Statuses());
    testutil::WaitFor([&] { return closer.Texts().size() >= 2; }, 5000);
    ASSERT_EQ(2u, closer.Texts().size());
    EXPECT_EQ(0u, closer.Texts()[1].find("\xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE")) << "61216 begins with 업데이트";
}

}  // namespace
