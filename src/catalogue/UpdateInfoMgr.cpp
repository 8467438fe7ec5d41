#include "catalogue/UpdateInfoMgr.h"

#include "base/Messages.h"
#include "base/RunOutcome.h"
#include "sys/Util.h"

// The folder macros and the staging folder are ready before any catalogue
// text is read.
CUpdateInfoMgr::CUpdateInfoMgr()
{
    CUtil::InitSystemFolders();
}

CUpdateInfoMgr::~CUpdateInfoMgr() = default;

void CUpdateInfoMgr::PostStatus(int code, LPARAM data)
{
    m_nLastStatus = code;
    DWORD exitCode = 0;
    if (ExitCodeOfStatus(code, exitCode)) SetRunExitCode(exitCode);
    if (m_hNotifyWnd) ::PostMessageA(m_hNotifyWnd, UM_SETUP_STATUS, static_cast<WPARAM>(code), data);
}

void CUpdateInfoMgr::PostDialogClosed()
{
    if (m_hNotifyWnd) ::PostMessageA(m_hNotifyWnd, UM_SETUP_DIALOG_CLOSED, 0, 0);
}

std::string CUpdateInfoMgr::GetModuleInstallTag() const
{
    return m_listUpdateSet.empty() ? std::string() : m_listUpdateSet.back()->GetStatisticsTag(m_strServiceName);
}
