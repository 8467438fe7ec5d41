// Result reports: after each item a run installed, rolled back or had
// refused, one GET to the statistics URL the catalogue names (REPORT), so
// that the operator sees a bad release from a web server's access log. No
// report is retried, none delays or fails the run, none carries personal
// data or the machine's install id.
#pragma once

#include <windows.h>

#include <string>

struct CItemResult {
    std::string item;          // the item's NAME
    std::string from;          // the version installed before ("" when none)
    std::string to;            // the catalogue's version
    const char* outcome = "";  // "installed", "rolled-back", "held-for-restart", "refused"
    DWORD error = 0;           // the LastError pair when it failed
    DWORD sysError = 0;
    DWORD downloadMs = 0;      // time its files' transfers took
    ULONGLONG downloadBytes = 0;
    int stage = -1;            // its release's stage in hundredths of a percent; -1 none
    bool first = true;         // this machine's first report of this release of the item
};

class CResultReports {
public:
    // The catalogue's REPORT: the URL (under the trust rule of downloads,
    // else no report is sent; over https when secure, the catalogue having
    // come over https) and the share of results reported, in hundredths of a
    // percent.
    static void Configure(const std::string& url, int rateHundredths, bool secure = false);
    // Where results go now ("" when nowhere).
    static std::string Url();
    // The request's URL for a result (the fields as query parameters).
    static std::string ReportUrl(const std::string& base, const CItemResult& result);
    // Sends it on a thread of its own when the sampling draw takes it.
    static void Send(const CItemResult& result);
    // At the end of the run: waits up to ms for the reports still going.
    static void WaitForAll(DWORD ms);
};
