#include "catalogue/UpdateInfoMgr.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpUtil.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

class ParamDocumentTest : public ::testing::Test {
protected:
    void SetUp() override { RecordLastError(0, 0); }
    std::string Log() const { return m_log.Contents(); }

    CUpdateInfoMgr m;
    testutil::TestLog m_log{2};
};

const char kCatalogue[] = "http://down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml";

TEST_F(ParamDocumentTest, ReadsAFullDocument)
{
    EXPECT_TRUE(m.ParseXMLArgument(
        "<PARAM><SERVICENAME>\xC4\xAB\xC6\xE4</SERVICENAME><MODE>zeltosetup</MODE>"
        "<SOURCE>https://down.zelto.com/some/page.html?q=1#top</SOURCE>"
        "<FORCEDELETE>0</FORCEDELETE><SHOWDLG>0</SHOWDLG></PARAM>"));
    EXPECT_EQ("zeltosetup", m.GetMode());
    EXPECT_EQ("https://down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml", m.GetSourceURL())
        << "an https SOURCE keeps the catalogue on TLS; its path and query dropped";
    EXPECT_EQ(0, m.GetForceDelete());
    EXPECT_EQ(0, m.GetShowDlg());
    EXPECT_EQ("\xC4\xAB\xC6\xE4", m.GetServiceName()) << "code page 949 bytes kept as they are";
    EXPECT_NE(std::string::npos,
              Log().find("[ZeltoSetup][ParseXMLArgument] MODE=zeltosetup, m_bForceDelete=0, m_bShowDlg=0, "
                         "m_strServiceName=\xC4\xAB\xC6\xE4\r\n"));
}

TEST_F(ParamDocumentTest, DefaultsAndNumberRules)
{
    EXPECT_TRUE(m.ParseXMLArgument(
        "<PARAM><MODE>ZeltoSetup</MODE><SOURCE>http://down.zelto.com/</SOURCE>"
        "<FORCEDELETE>yes</FORCEDELETE></PARAM>"));
    EXPECT_EQ(0, m.GetForceDelete()) << "a word without digits is 0";
    EXPECT_EQ(1, m.GetShowDlg()) << "an absent SHOWDLG stays 1";
    EXPECT_EQ("", m.GetServiceName());
    EXPECT_EQ("http://down.zelto.com/zelto/zeltosetup/Repository/ZeltoSetup/ZeltoSetup.xml", m.GetSourceURL())
        << "the mode is used as given";
    EXPECT_TRUE(m.ParseXMLArgument("<PARAM><MODE>zeltosetup</MODE><SOURCE>HTTP://DOWN.ZELTO.COM:80/</SOURCE></PARAM>"));
    EXPECT_EQ(kCatalogue, m.GetSourceURL()) << "the host in lower case, whatever the page wrote";
}

TEST_F(ParamDocumentTest, EmptyOrMissingModeStopsBeforeTheOptions)
{
    EXPECT_FALSE(m.ParseXMLArgument("<PARAM><MODE></MODE><FORCEDELETE>0</FORCEDELETE></PARAM>"));
    EXPECT_FALSE(m.ParseXMLArgument("<PARAM><SHOWDLG>0</SHOWDLG></PARAM>"));
    EXPECT_FALSE(m.ParseXMLArgument("this is not XML"));
    EXPECT_FALSE(m.ParseXMLArgument(""));
    EXPECT_EQ(1, m.GetForceDelete());
    EXPECT_EQ(1, m.GetShowDlg());
    EXPECT_EQ(0u, LastError.dwAppError) << "the mode failure leaves LastError alone";
    EXPECT_NE(std::string::npos, Log().find("[ZeltoSetup][ParseXMLArgument] m_strMode.GetLength()== 0\r\n"));
}

TEST_F(ParamDocumentTest, MissingSourceTakesTheOptionsButFails)
{
    EXPECT_FALSE(m.ParseXMLArgument(
        "<PARAM><MODE>zeltosetup</MODE><FORCEDELETE>0</FORCEDELETE><SERVICENAME>cafe</SERVICENAME></PARAM>"));
    EXPECT_EQ(ERR_NO_CATALOGUE_URL, LastError.dwAppError);
    EXPECT_EQ(0, m.GetForceDelete());
    EXPECT_EQ("cafe", m.GetServiceName());
    EXPECT_NE(std::string::npos, Log().find("[ZeltoSetup][ParseXMLArgument] m_strSourceURL.GetLength()== 0\r\n"));
}

TEST_F(ParamDocumentTest, SourceWithoutHostFails)
{
    EXPECT_FALSE(m.ParseXMLArgument("<PARAM><MODE>zeltosetup</MODE><SOURCE>no url at all</SOURCE></PARAM>"));
    EXPECT_EQ(ERR_SOURCE_HOST, LastError.dwAppError);
    EXPECT_EQ("", m.GetSourceURL());
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("[ZeltoSetup][ExtractDomainFromURL] InternetCrackUrl Failed, Error Code = "));
    EXPECT_NE(std::string::npos, log.find("[ZeltoSetup][ParseXMLArgument] ExtractDomainFromURL == NULL\r\n"));
}

TEST_F(ParamDocumentTest, ModesThatCouldLeaveTheCatalogueFolderAreRefused)
{
    const char* bad[] = {"..", "../evil", "a/b", "a\\b", "%2e%2e", "a?b", "a#b", "a b", "a\tb", "a\x7f"};
    for (const char* mode : bad) {
        CUpdateInfoMgr fresh;
        std::string doc = std::string("<PARAM><MODE>") + mode +
                          "</MODE><SOURCE>http://down.zelto.com/</SOURCE><SHOWDLG>0</SHOWDLG></PARAM>";
        EXPECT_FALSE(fresh.ParseXMLArgument(doc.c_str())) << mode;
        EXPECT_EQ("", fresh.GetSourceURL()) << mode;
        EXPECT_EQ(1, fresh.GetShowDlg()) << mode;
        EXPECT_NE(std::string::npos, Log().find(std::string("[ParseXMLArgument] invalid MODE (") + mode + ")"));
    }
    EXPECT_EQ(0u, LastError.dwAppError);
    // Dots inside a name are fine.
    EXPECT_TRUE(m.ParseXMLArgument("<PARAM><MODE>zelto.v2_beta-1</MODE><SOURCE>http://down.zelto.com/</SOURCE></PARAM>"));
}

TEST_F(ParamDocumentTest, ASecondDocumentReadsOverTheFirst)
{
    EXPECT_TRUE(m.ParseXMLArgument(
        "<PARAM><MODE>one</MODE><SOURCE>http://a.zelto.com/</SOURCE><SERVICENAME>s1</SERVICENAME></PARAM>"));
    EXPECT_TRUE(m.ParseXMLArgument("<PARAM><MODE>two</MODE><SHOWDLG>0</SHOWDLG></PARAM>"))
        << "the catalogue address of the first document stays in force";
    EXPECT_EQ("two", m.GetMode());
    EXPECT_EQ("http://a.zelto.com/zelto/zeltosetup/Repository/one/one.xml", m.GetSourceURL());
    EXPECT_EQ("s1", m.GetServiceName());
    EXPECT_EQ(0, m.GetShowDlg());
}

TEST_F(ParamDocumentTest, FirstOfRepeatedElementsCounts)
{
    EXPECT_TRUE(m.ParseXMLArgument(
        "<PARAM><MODE>first</MODE><MODE>second</MODE><SOURCE>http://a.zelto.com/</SOURCE></PARAM>"));
    EXPECT_EQ("first", m.GetMode());
}

TEST(ExtractDomainFromURL, HostsAndAboutUrls)
{
    EXPECT_EQ("down.zelto.com", CHttpUtil::ExtractDomainFromURL("http://down.zelto.com:8080/a/b?c=d"));
    EXPECT_EQ("about:blank", CHttpUtil::ExtractDomainFromURL("about:blank"));
    EXPECT_EQ("x about:y", CHttpUtil::ExtractDomainFromURL("x about:y"));
    RecordLastError(0, 0);
    EXPECT_EQ("", CHttpUtil::ExtractDomainFromURL("plain text"));
    EXPECT_EQ(ERR_CRACK_URL, LastError.dwAppError);
    // A long file URL: the system's URL cracker overran a buffer of its own
    // copying such a path out, and ended the program.
    const std::string letters(300, 'a');
    EXPECT_EQ("", CHttpUtil::ExtractDomainFromURL(("file:" + letters).c_str()));
    EXPECT_EQ("down.zelto.com", CHttpUtil::ExtractDomainFromURL(("file://down.zelto.com/" + letters).c_str()));
    EXPECT_EQ("down.zelto.com", CHttpUtil::ExtractDomainFromURL(("http://down.zelto.com/" + letters).c_str()));
}

}  // namespace
