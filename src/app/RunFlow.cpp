// What the main frame does when the run starts, and the relays of the
// uninstall page's messages to the wizard.
#include "app/MainFrame.h"

#include "app/CommandLine.h"
#include "base/Messages.h"
#include "base/Strings.h"
#include "catalogue/UpdateInfoMgr.h"
#include "sys/UserSettings.h"
#include "ui/InstallNotificationDlg.h"

#include "resource.h"

#include <cstdlib>

LRESULT CMainFrame::OnStart()
{
    if (!ParseCommandLine(__argc, __argv, m_bUninstallMode)) {
        ShowMessage(IDS_BAD_START);
        ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }

    if (m_bUninstallMode) {
        ::ShowWindow(m_hWnd, SW_SHOW);
        if (m_wizard.GetSafeHwnd()) m_wizard.DestroyWindow();
        if (!m_wizard.Create(m_hWnd)) {
            ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        }
        ::PostMessageA(m_wizard.GetSafeHwnd(), UM_START_INSTALL, 0, 0);
        return 0;
    }

    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    manager->PostStatus(STATUS_INSTALL_BEGIN, reinterpret_cast<LPARAM>(m_hWnd));
    // On failure the message was shown and status 101 posted; the run goes
    // on with the items that were read.
    manager->LoadUpdateList();

    // The notification dialog is skipped only for an update run of a user
    // who asked not to see it on updates.
    BYTE noShow = 0;
    GetNoShowIfUpdate(&noShow);
    if (noShow == 0 || manager->GetUpdateMode() == 0) {
        CInstallNotificationDlg notification;
        if (notification.DoModal() == IDCANCEL) {
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

LRESULT CMainFrame::OnUninstallDone()
{
    if (m_bUninstallMode && m_wizard.GetSafeHwnd())
        ::PostMessageA(m_wizard.GetSafeHwnd(), UM_UNINSTALL_DONE, 0, 0);
    return 0;
}

LRESULT CMainFrame::OnUninstallRunning(WPARAM running)
{
    if (!m_wizard.GetSafeHwnd()) return 0;
    return ::SendMessageA(m_wizard.GetSafeHwnd(), UM_UNINSTALL_RUNNING, running, 0);
}
