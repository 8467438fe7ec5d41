#include "net/HttpUtil.h"

#include "base/Log.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

BOOL Check(const char* url)
{
    return CHttpUtil::CheckDownloadURL(url, TRUSTED_DOMAIN_SUFFIX, TRUSTED_PATH_PREFIX);
}

// The shared table of cases (the operators' tool applies the same rule).
TEST(CheckDownloadURL, SharedCaseTable)
{
    const std::string table = testutil::ReadWholeFile(testutil::WindowsPathOf(ZELTO_TEST_DATA_DIR) + "\\trust-cases.txt");
    ASSERT_FALSE(table.empty());
    int cases = 0;
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        std::string line = table.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? table.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t comment = line.find(" # ");
        const std::string reason = comment == std::string::npos ? "" : line.substr(comment + 3);
        if (comment != std::string::npos) line.resize(comment);
        const bool trusted = line.compare(0, 3, "ok ") == 0;
        const std::string url = line.substr(trusted ? 3 : 4);
        EXPECT_EQ(trusted, Check(url.c_str()) == TRUE) << url << " " << reason;
        ++cases;
    }
    EXPECT_GE(cases, 25);
    EXPECT_FALSE(Check("")) << "no URL";
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
