#include "net/HttpUtil.h"

#include "base/Log.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

BOOL Check(const char* url)
{
    return CHttpUtil::CheckDownloadURL(url, TRUSTED_DOMAIN_SUFFIX, TRUSTED_PATH_PREFIX);
}

TEST(CheckDownloadURL, TrustedOrigins)
{
    EXPECT_TRUE(Check("http://down.zelto.com/zelto/zeltosetup/a.dll"));
    EXPECT_TRUE(Check("http://a.b.zelto.com/zelto/zeltosetup/sub/dir/a.dll"));
    EXPECT_TRUE(Check("http://down.zelto.com:8080/zelto/zeltosetup/a.dll")) << "a port on a trusted host";
    EXPECT_TRUE(Check("http://down.zelto.com/zelto/zeltosetup/a%20b.dll")) << "an encoded blank";
    EXPECT_TRUE(Check("http://down.zelto.com/zelto/zeltosetup/a.dll?v=3"));
}

TEST(CheckDownloadURL, ForeignHostsAndSchemes)
{
    EXPECT_FALSE(Check("https://down.zelto.com/zelto/zeltosetup/a.dll"));
    EXPECT_FALSE(Check("ftp://down.zelto.com/zelto/zeltosetup/a.dll"));
    EXPECT_FALSE(Check("http://zelto.com/zelto/zeltosetup/a.dll")) << "the bare domain";
    EXPECT_FALSE(Check("http://evilzelto.com/zelto/zeltosetup/a.dll")) << "only ends with the domain's letters";
    EXPECT_FALSE(Check("http://DOWN.ZELTO.COM/zelto/zeltosetup/a.dll")) << "the compare is case-sensitive";
    EXPECT_FALSE(Check("http://down.zelto.com.evil.net/zelto/zeltosetup/a.dll"));
    EXPECT_FALSE(Check("http://down.zelto.com:80@evil.net/zelto/zeltosetup/a.dll")) << "port trick";
    EXPECT_FALSE(Check("http://user:pw@down.zelto.com/zelto/zeltosetup/a.dll")) << "user info";
    EXPECT_FALSE(Check("http://user@down.zelto.com/zelto/zeltosetup/a.dll"));
    EXPECT_FALSE(Check("not a url"));
    EXPECT_FALSE(Check(""));
}

TEST(CheckDownloadURL, PathsThatLeaveTheFolder)
{
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/other/a.dll")) << "wrong second segment";
    EXPECT_FALSE(Check("http://down.zelto.com/Zelto/zeltosetup/a.dll"));
    EXPECT_FALSE(Check("http://down.zelto.com/zelto")) << "fewer than three slashes";
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup")) ;
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup/../../other/x.exe"));
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup/%2e%2e/%2e%2e/other/x.exe")) << "encoded dots";
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup/%2E%2E/x.exe"));
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup/./x.exe"));
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup/%252e%252e/x.exe")) << "double encoding";
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup/..\\..\\x.exe")) << "backslashes";
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup\\..\\..\\x.exe"));
    EXPECT_FALSE(Check("http://down.zelto.com/zelto/zeltosetup/a%5c..%5cx.exe")) << "encoded backslash";
}

TEST(CheckDownloadURL, LogsOnlyPathFailures)
{
    std::string log = testutil::ExeFolder() + "\\ZeltoOmbrix.log";
    ::DeleteFileA(log.c_str());
    StartLog(0, 1);
    Check("https://down.zelto.com/zelto/zeltosetup/a.dll");
    Check("http://zelto.com/zelto/zeltosetup/a.dll");
    std::string text = testutil::ReadWholeFile(log);
    Check("http://down.zelto.com/zelto/other/a.dll");
    std::string after = testutil::ReadWholeFile(log);
    StopLog();
    ::DeleteFileA(log.c_str());
    EXPECT_EQ(std::string::npos, text.find("CheckDownloadURL")) << "scheme and host failures are silent";
    EXPECT_NE(std::string::npos, after.find("[ZeltoSetup][CheckDownloadURL] Failed, strUrlPath = zelto/other/\r\n"));
}

}  // namespace
