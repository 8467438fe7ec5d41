// The run's end in the install progress window: the installation of the
// downloaded items, the restart question and the closing of the run.
#include "install/DlgDownload.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "base/MainWindow.h"
#include "base/Messages.h"
#include "base/RunMode.h"
#include "base/RunOutcome.h"
#include "base/Strings.h"
#include "catalogue/UpdateInfoMgr.h"
#include "install/ItemInstallation.h"
#include "install/ItemReport.h"
#include "install/Placement.h"
#include "install/Staging.h"
#include "net/StatSender.h"
#include "sys/Util.h"

#include "resource.h"

void CDlgDownload::OnDownloadComplete(BOOL failed)
{
    WaitForWorker();
    RecordLastError(m_workerError.dwAppError, m_workerError.dwSysError);
    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    if (static_cast<WPARAM>(failed) == kWorkerBroke) {
        ShowMessage(IDS_INSTALL_FAILED, LastErrorSuffix());
        AbortRun();
        return;
    }
    if (m_bCloseRequested) {
        AbortRun();
        return;
    }
    bool anyFailed = false;
    for (const auto& item : manager->Items()) {
        bool itemFailed = failed != FALSE;
        for (const auto& file : item->m_arrUpdateFile) itemFailed = itemFailed || !file->m_bDownloaded;
        anyFailed = anyFailed || itemFailed;
    }
    if (!manager->Items().empty() && anyFailed) {
        if (!GetMainFrameWindow()) return;
        // A cancel refuses nothing: only a failed download is reported.
        if (!Cancelled())
            for (const auto& item : manager->Items()) ReportItemResult(*item, "refused");
        if (!Cancelled()) ShowMessage(IDS_DOWNLOAD_FAILED, LastErrorSuffix());
        AbortRun();
        if (Cancelled()) SetRunExitCode(EXIT_RUN_CANCELLED);   // the user's cancel, not a failure
        return;
    }
    if (m_nLastPercent >= 0 && m_nLastPercent < 100) PostPercent(100);
    manager->PostStatus(STATUS_INSTALL_START, 0);
    HCURSOR previous = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
    BOOL installed = InstallDownloadedFiles();
    ::SetCursor(previous);
    if (m_bCloseRequested) {   // asked to close during the installation
        AbortRun();
        return;
    }
    if (installed) {
        ::ShowWindow(m_hWnd, SW_HIDE);
        ::PostMessageA(m_hWnd, UM_SETUP_COMPLETE, 0, 0);
        return;
    }
    if (!GetMainFrameWindow()) return;
    ShowMessage(IDS_INSTALL_FAILED, LastErrorSuffix());
    AbortRun();
}

BOOL CDlgDownload::InstallDownloadedFiles()
{
    WriteLog(2, "CDlgDownload::InstallDownloadedFiles");
    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    int restart = manager->GetRestartFlag();
    BOOL all = TRUE;
    std::vector<const CUpdateSet*> failed;
    for (auto& item : manager->Items()) {
        // A close request (taken by a message box's loop) stops the run
        // between items: the current one has installed or rolled back.
        if (m_bCloseRequested) {
            all = FALSE;
            break;
        }
        // A quiet run ends no program that holds a file: the file is
        // replaced at the next restart instead.
        bool atRestart = false;
        const BOOL ok = InstallItem(*item, IsQuietRun() ? 0 : manager->GetForceDelete(), restart, &atRestart);
        if (!ok) {
            all = FALSE;
            failed.push_back(item.get());
        }
        ReportItemResult(*item, !ok ? "rolled-back" : atRestart ? "held-for-restart" : "installed");
    }
    manager->SetRestartFlag(restart);
    RemoveUnpackedArchives(manager->Items(), failed);
    return all;
}

void CDlgDownload::OnSetupComplete()
{
    WriteLog(2, "CDlgDownload::OnSetupComplete");
    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    if (manager->GetRestartFlag() == 1) {
        std::string text = LoadResString(IDS_RESTART_NEEDED), title = LoadResString(IDS_APP_TITLE);
        if (IsQuietRun()) {
            // A quiet run never restarts: the exit code tells the administrator.
            WriteLog(1, "[OnSetupComplete] quiet run: a restart is needed and left to the administrator");
            manager->PostStatus(STATUS_RESTART_DECLINED, 0);
        } else if (::MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_YESNO | MB_SYSTEMMODAL) == IDYES) {
            if (CUtil::Folders().osVersion.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) ::ExitWindowsEx(EWX_REBOOT, 0);
            else RestartSystem();
            manager->PostStatus(STATUS_RESTART_ACCEPTED, 0);
        } else {
            manager->PostStatus(STATUS_RESTART_DECLINED, 0);
        }
    } else {
        manager->PostStatus(STATUS_DONE, 0);
        // The staging folder is the user's own temporary folder: emptied of
        // our files it must stay, or every program that writes to %TEMP%
        // fails afterwards. So it is not removed.
    }
    const bool firstInstallation = manager->GetUpdateMode() == 0;
    const std::string tag = manager->GetModuleInstallTag();
    m_bRunning = false;
    if (HWND frame = GetMainFrameWindow()) ::PostMessageA(frame, WM_CLOSE, 0, 0);
    if (firstInstallation) CStatSender::SendModuleInstallCount(tag);
}

void CDlgDownload::AbortRun()
{
    ::ShowWindow(m_hWnd, SW_HIDE);
    CUpdateInfoMgr::GetInstance()->PostStatus(STATUS_FAILED, 0);
    m_bRunning = false;
    if (HWND frame = GetMainFrameWindow()) ::PostMessageA(frame, WM_CLOSE, 0, 0);
}
