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
              "&outcome=rolled-back&error=1014&syserror=5&ms=412&bytes=5000000000&stage=2050&first=1",
              CResultReports::ReportUrl("https://s.zelto.com/zelto/zeltosetup/r", result));
    result.from.clear();
    result.stage = -1;
    const std::string url = CResultReports::ReportUrl("http://s.zelto.com/zelto/zeltosetup/r?v=2", result);
    EXPECT_EQ(0u, url.find("http://s.zelto.com/zelto/zeltosetup/r?v=2&item=")) << url;
    EXPECT_NE(std::string::npos, url.find("&from=&to=")) << url;
    EXPECT_NE(std::string::npos, url.find("&stage=-1&first=1")) << url;
    result.first = false;
    EXPECT_NE(std::string::npos, CResultReports::ReportUrl("http://s.zelto.com/r", result).find("&first=0"));
}

// A catalogue that came over https sends its results over https; one that
// came over http keeps the REPORT URL as written; one that fails the trust
// rule sends nothing.
TEST(ResultReport, ResultsGoOverHttpsWhenTheCatalogueDid)
{
    CResultReports::Configure("http://cc.zelto.com/zelto/zeltosetup/report", 10000, true);
    EXPECT_EQ("https://cc.zelto.com/zelto/zeltosetup/report", CResultReports::Url());
    CResultReports::Configure("HTTP://cc.zelto.com/zelto/zeltosetup/report", 10000, true);
    EXPECT_EQ("https://cc.zelto.com/zelto/zeltosetup/report", CResultReports::Url());
    CResultReports::Configure("http://cc.zelto.com/zelto/zeltosetup/report", 10000, false);
    EXPECT_EQ("http://cc.zelto.com/zelto/zeltosetup/report", CResultReports::Url());
    CResultReports::Configure("http://stats.example.net/zelto/zeltosetup/report", 10000, true);
    EXPECT_EQ("", CResultReports::Url());
    CResultReports::Configure("", 0);
}
