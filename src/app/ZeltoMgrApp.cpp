#include "app/ZeltoMgrApp.h"

#include "app/RunServices.h"
#include "base/RunOutcome.h"
#include "catalogue/UpdateInfoMgr.h"
#include "install/Staging.h"
#include "net/ResultReport.h"

BOOL CZeltoMgrApp::InitInstance()
{
    // OLE and the common controls start with the run (StartRunServices).
    m_pMainWnd = std::make_unique<CMainFrame>();
    if (m_pMainWnd->GetSafeHwnd()) ::UpdateWindow(m_pMainWnd->GetSafeHwnd());
    else m_pMainWnd.reset();
    return TRUE;
}

int CZeltoMgrApp::Run()
{
    // No frame: the account check refused the run, or the window could not be made.
    if (!m_pMainWnd) {
        if (GetRunExitCode() == EXIT_RUN_DONE) SetRunExitCode(EXIT_RUN_FAILED);
        m_nExitCode = static_cast<int>(GetRunExitCode());
        return m_nExitCode;
    }
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        // Keyboard navigation in the active modeless dialog.
        HWND active = ::GetActiveWindow();
        if (active && ::GetClassLongPtrA(active, GCW_ATOM) == 32770 && ::IsDialogMessageA(active, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    // How the run ended (the same codes in every mode), for the starting program.
    m_nExitCode = static_cast<int>(GetRunExitCode());
    return m_nExitCode;
}

int CZeltoMgrApp::ExitInstance()
{
    m_pMainWnd.reset();   // the run's lock goes with the frame
    // Result reports still going get a moment; the run's outcome is told.
    CResultReports::WaitForAll(3000);
    RemoveEmptiedStagingFolder();
    CUpdateInfoMgr::DeleteInstance();
    EndRunServices();
    return m_nExitCode;
}
