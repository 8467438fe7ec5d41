#include "install/ItemReport.h"

#include "base/LastError.h"
#include "net/ResultReport.h"
#include "sys/RegKey.h"

#include <cstring>

namespace {

// The release of each item this machine last reported, so that a report
// says whether it is the machine's first attempt at that release (a desktop
// that fails on every run counts once in the release's health).
constexpr const char* kReportedKey = "Software\\QRV Corporation\\ZeltoSetup\\ReportedReleases";

bool FirstReportOfRelease(const std::string& item, const std::string& version)
{
    CRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, kReportedKey) != ERROR_SUCCESS) return true;
    char reported[128] = {};
    DWORD size = sizeof(reported);
    const bool again = key.QueryStringValue(item.c_str(), reported, &size) == ERROR_SUCCESS && version == reported;
    if (!again) key.SetStringValue(item.c_str(), version.c_str());
    return !again;
}

}  // namespace

void ReportItemResult(const CUpdateSet& item, const char* outcome)
{
    if (item.m_arrUpdateFile.empty()) return;
    CItemResult result;
    result.item = item.m_strName;
    result.from = item.m_strVersionBefore;
    result.to = item.m_strVersionAfter;
    result.outcome = outcome;
    const bool refused = std::strcmp(outcome, "refused") == 0;
    if (std::strcmp(outcome, "rolled-back") == 0) {
        result.error = LastError.dwAppError;
        result.sysError = LastError.dwSysError;
    }
    for (const auto& file : item.m_arrUpdateFile) {
        result.downloadMs += file->m_dwFetchMs;
        result.downloadBytes += file->m_qwFetchBytes;
        if (refused && file->m_dwFetchError && !result.error) {
            result.error = file->m_dwFetchError;
            result.sysError = file->m_dwFetchSysError;
        }
    }
    // Refused is the item whose own download failed, not one whose transfer
    // another's failure stopped.
    if (refused && !result.error) return;
    result.stage = item.m_nStage;
    result.first = FirstReportOfRelease(item.m_strName, result.to);
    CResultReports::Send(result);
}
