// What the main frame does when the run starts, and the relays of the
// uninstall page's messages to the wizard.
#include "app/MainFrame.h"

#include "app/CommandLine.h"
#include "app/RunServices.h"
#include "base/LastError.h"
#include "base/Log.h"
#include "base/Messages.h"
#include "base/RunMode.h"
#include "base/RunOutcome.h"
#include "base/Strings.h"
#include "catalogue/UpdateInfoMgr.h"
#include "install/ItemInstallation.h"
#include "install/ProgramCopy.h"
#include "install/Staging.h"
#include "sys/UserSettings.h"
#include "ui/InstallNotificationDlg.h"
#include "ui/MsgDialog.h"
#include "uninstall/ControlCache.h"
#include "uninstall/ItemRecords.h"
#include "uninstall/UninstallProcedure.h"

#include "resource.h"

#include <cstdlib>

LRESULT CMainFrame::OnStart()
{
    RunSwitches switches;
    const BOOL valid = ParseCommandLine(__argc, __argv, switches);
    m_bUninstallMode = switches.uninstallMode;
    if (!valid || m_bLogRefused) {
        ShowMessage(IDS_BAD_START);
        const bool exists = m_dwLogError == ERROR_FILE_EXISTS || m_dwLogError == ERROR_ALREADY_EXISTS;
        SetRunExitCode(valid && !exists ? EXIT_RUN_LOG_FAILED : EXIT_RUN_BAD_COMMAND_LINE);
        ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }

    if (m_bUninstallMode) {
        if (const DWORD refused = ClaimTheRun()) {
            SetRunExitCode(refused);
            ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        }
        RecoverInterruptedItems();
        StartRunServices();
        if (IsQuietRun()) {
            RemoveEverythingQuietly();
            ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        }
        // Until something is removed, leaving the wizard is a cancel.
        SetRunExitCode(EXIT_RUN_CANCELLED);
        ::ShowWindow(m_hWnd, SW_SHOW);
        if (m_wizard.GetSafeHwnd()) m_wizard.DestroyWindow();
        if (!m_wizard.Create(m_hWnd)) {
            SetRunExitCode(EXIT_RUN_FAILED);
            ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        }
        ::PostMessageA(m_wizard.GetSafeHwnd(), UM_START_INSTALL, 0, 0);
        return 0;
    }

    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    // Two runs at once would share the staging files and the records: a
    // second one ends before it asks the server anything.
    if (const DWORD refused = ClaimTheRun()) {
        manager->PostStatus(STATUS_FAILED, 0);
        SetRunExitCode(refused);   // after the status, which stands for 1603
        ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }
    // What a run that was killed left half done is put back first.
    RecoverInterruptedItems();
    manager->PostStatus(STATUS_INSTALL_BEGIN, reinterpret_cast<LPARAM>(m_hWnd));
    StartRunServices();
    // On failure the message was shown and status 101 posted (102 when the
    // user cancelled the wait): a run without its catalogue ends there.
    if (!LoadCatalogue()) {
        ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }

    // The notification dialog is skipped only for an update run of a user
    // who asked not to see it on updates.
    // A quiet run installs as if install had been pressed with both offers
    // unticked: the start page and the search settings stay as they are.
    BYTE noShow = 0;
    GetNoShowIfUpdate(&noShow);
    if (IsQuietRun()) {
        WriteLog(1, "[OnStart] quiet run: %d item(s) to install, no question asked",
                 static_cast<int>(manager->Items().size()));
    } else if (noShow == 0 || manager->GetUpdateMode() == 0) {
        CInstallNotificationDlg notification;
        m_bAsking = true;
        INT_PTR answer = notification.DoModal();
        m_bAsking = false;
        if (m_bCloseRequested) {   // the frame was asked to close meanwhile
            manager->PostStatus(STATUS_FAILED, 0);
            ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        }
        if (answer != IDOK) {   // cancelled, or the dialog could not be shown
            manager->PostStatus(STATUS_USER_CANCELLED, 0);
            ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        }
    }

    if (m_dlgDownload.GetSafeHwnd()) m_dlgDownload.DestroyWindow();
    if (!m_dlgDownload.Create(m_hWnd)) {
        manager->PostStatus(STATUS_DIALOG_NOT_CREATED, 0);
        ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }
    m_dlgDownload.CenterWindow(m_hWnd);
    ::PostMessageA(m_dlgDownload.GetSafeHwnd(), UM_START_INSTALL, 0, 0);
    return 0;
}

namespace {

struct CatalogueFetch {
    CUpdateInfoMgr* manager;
    UINT message;
    LastErrorPair error;   // the worker's, handed to the window's thread
};

DWORD WINAPI FetchCatalogueThread(void* parameter)
{
    auto* fetch = static_cast<CatalogueFetch*>(parameter);
    try {
        fetch->message = fetch->manager->FetchCatalogue();
    } catch (...) {   // nothing escapes a thread
        RecordLastError(ERR_LOCAL_FILE, 0);
        WriteLog(1, "[LoadCatalogue] the catalogue's fetch stopped on an exception");
        fetch->message = IDS_CATALOGUE_DOWNLOAD_FAILED;
    }
    fetch->error = LastError;
    return 0;
}

}  // namespace

bool CMainFrame::LoadCatalogue()
{
    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    // Nobody to show a wait to: the transfers' deadlines bound it.
    if (IsQuietRun()) return manager->LoadUpdateList() != FALSE;
    m_hFetchCancel.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CatalogueFetch fetch = {manager, 0, {0, 0}};
    DWORD id = 0;
    zelto::ScopedKernelHandle worker;
    if (m_hFetchCancel) worker.reset(::CreateThread(nullptr, 0, &FetchCatalogueThread, &fetch, 0, &id));
    if (!worker) {
        m_hFetchCancel.reset();
        return manager->LoadUpdateList() != FALSE;
    }
    manager->SetCancelEvent(m_hFetchCancel.get());
    // The window's thread keeps its messages going; a fetch that takes
    // longer than a moment shows the wait, whose cancel ends the run.
    CMsgDialogWait wait(m_hFetchCancel.get());
    const ULONGLONG showAt = ::GetTickCount64() + kCatalogueWaitShownAfterMs;
    HANDLE handles[] = {worker.get()};
    while (::MsgWaitForMultipleObjects(1, handles, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {   // kept for the main loop
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                ::SetEvent(m_hFetchCancel.get());
                break;
            }
            if (wait.GetSafeHwnd() && ::IsDialogMessageA(wait.GetSafeHwnd(), &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (!wait.GetSafeHwnd() && ::GetTickCount64() >= showAt && wait.Create(m_hWnd)) {
            wait.CenterWindow(nullptr);
            ::ShowWindow(wait.GetSafeHwnd(), SW_SHOW);
        }
    }
    if (wait.GetSafeHwnd()) wait.DestroyWindow();
    manager->SetCancelEvent(nullptr);
    RecordLastError(fetch.error.dwAppError, fetch.error.dwSysError);
    const bool cancelled = ::WaitForSingleObject(m_hFetchCancel.get(), 0) == WAIT_OBJECT_0;
    m_hFetchCancel.reset();
    if (cancelled && (fetch.message || m_bCloseRequested)) {
        WriteLog(1, "[LoadCatalogue] the wait for the catalogue was cancelled");
        manager->PostStatus(STATUS_USER_CANCELLED, 0);
        return false;
    }
    return manager->FinishLoading(fetch.message) != FALSE;
}

void CMainFrame::RemoveEverythingQuietly()
{
    std::vector<std::string> items;
    if (!ListRecordedItems(items)) {
        WriteLog(1, "[RemoveEverythingQuietly] nothing is recorded: nothing to remove");
        // What a removal killed after its entry went left behind goes now.
        RemoveProgramCopy();
        EmptyStagingFolder();
        SetRunExitCode(EXIT_RUN_DONE);
        return;
    }
    CControlCache cache;
    UninstallRequest request;
    request.removeControl = cache.RemoveControlByName();
    request.allSelected = 1;
    request.quiet = true;
    request.items = items;
    WriteLog(1, "[RemoveEverythingQuietly] removing %d item(s)", static_cast<int>(items.size()));
    const DWORD removed = RunUninstall(request);
    if (removed != 1) SetRunExitCode(EXIT_RUN_FAILED);
    else SetRunExitCode(request.restartNeeded ? EXIT_RUN_RESTART_DECLINED : EXIT_RUN_DONE);
    WriteLog(1, "[RemoveEverythingQuietly] %s%s", removed == 1 ? "done" : "failed",
             removed == 1 && request.restartNeeded ? "; files in use are removed at the next restart" : "");
}

DWORD CMainFrame::ClaimTheRun()
{
    // One run per machine: the records and the staging files are shared by
    // every user's runs.
    switch (m_runLock.Take()) {
    case CRunLock::Claim::Taken:
        return 0;
    case CRunLock::Claim::AnotherRunning:
        WriteLog(1, "[OnStart] Another ZeltoSetup is running; this one ends");
        return EXIT_RUN_ANOTHER_RUNNING;
    case CRunLock::Claim::Refused:
    default:
        WriteLog(1, "[OnStart] The staging folder was refused; this run ends");
        ShowMessage(IDS_INSTALL_FAILED, LastErrorSuffix());
        return EXIT_RUN_FAILED;
    }
}

LRESULT CMainFrame::OnClose()
{
    // The starting program has the frame's handle and may close it at any
    // time; what runs on the frame's behalf (the question, the install
    // worker, the removal) must end first. It closes the frame itself.
    if (m_bAsking) {
        m_bCloseRequested = true;
        return 0;
    }
    if (m_hFetchCancel) {   // the catalogue is being fetched: it stops first
        m_bCloseRequested = true;
        ::SetEvent(m_hFetchCancel.get());
        return 0;
    }
    if (m_dlgDownload.GetSafeHwnd() && m_dlgDownload.IsRunning()) {
        m_bCloseRequested = true;
        m_dlgDownload.RequestClose();
        return 0;
    }
    if (m_bUninstallRunning) {
        m_bCloseRequested = true;
        return 0;
    }
    DestroyWindow();
    return 0;
}

LRESULT CMainFrame::OnUninstallDone()
{
    if (m_bUninstallMode && m_wizard.GetSafeHwnd())
        ::PostMessageA(m_wizard.GetSafeHwnd(), UM_UNINSTALL_DONE, 0, 0);
    return 0;
}

LRESULT CMainFrame::OnUninstallRunning(WPARAM enable)
{
    // wParam 0: the removal starts (the wizard's buttons go disabled); 1: it ended.
    m_bUninstallRunning = enable == 0;
    if (enable && m_bCloseRequested) ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    if (!m_wizard.GetSafeHwnd()) return 0;
    return ::SendMessageA(m_wizard.GetSafeHwnd(), UM_UNINSTALL_RUNNING, enable, 0);
}
