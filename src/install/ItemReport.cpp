#include "install/ItemReport.h"

#include "base/LastError.h"
#include "net/ResultReport.h"

#include <cstring>

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
    CResultReports::Send(result);
}
