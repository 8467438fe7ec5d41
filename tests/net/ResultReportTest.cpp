#include "net/ResultReport.h"

#include <gtest/gtest.h>

// The report's query: every field, a name in code page 949 and characters
// that would end a field escaped, a base URL with a query of its own kept.
TEST(ResultReport, TheQueryCarriesEveryFieldEscaped)
{
    CItemResult result;
    result.item = "\xBA\xE4\xBE\xEE a&b=c";   // 뷰어 a&b=c
    result.from = "1.0.0.4";
    result.to = "1.0.0.5";
    result.outcome = "rolled-back";
    result.error = 1014;
    result.sysError = 5;
    result.downloadMs = 412;
    result.downloadBytes = 5000000000ULL;
    result.stage = 2050;
    EXPECT_EQ("https://s.zelto.com/zelto/zeltosetup/r?item=%BA%E4%BE%EE%20a%26b%3Dc&from=1.0.0.4&to=1.0.0.5"
              "&outcome=rolled-back&error=1014&syserror=5&ms=412&bytes=5000000000&stage=2050",
              CResultReports::ReportUrl("https://s.zelto.com/zelto/zeltosetup/r", result));
    result.from.clear();
    result.stage = -1;
    const std::string url = CResultReports::ReportUrl("http://s.zelto.com/zelto/zeltosetup/r?v=2", result);
    EXPECT_EQ(0u, url.find("http://s.zelto.com/zelto/zeltosetup/r?v=2&item=")) << url;
    EXPECT_NE(std::string::npos, url.find("&from=&to=")) << url;
    EXPECT_NE(std::string::npos, url.find("&stage=-1")) << url;
}
