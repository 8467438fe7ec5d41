// The hidden main frame: reads the log level, checks the account, queues the
// start message and runs the run flow. The program ends when it is closed.
#pragma once

#include "app/RunLock.h"
#include "base/Handles.h"
#include "install/DlgDownload.h"
#include "sys/FrameWindow.h"
#include "uninstall/UnInstallWizard.h"

class CMainFrame : public CFrameWindow {
public:
    CMainFrame();   // creates the window

    int m_bUninstallMode = 0;
    bool m_bLogRefused = false;   // "-l" named a file that cannot be the log
    DWORD m_dwLogError = 0;       // why: the system's error code
    CDlgDownload m_dlgDownload;   // the install progress window (install mode)
    CUnInstallWizard m_wizard;    // the uninstall wizard (uninstall mode)

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    int OnCreate();
    LRESULT OnStart();
    // Fetches the catalogue on a worker thread while this thread keeps the
    // messages going and, after kCatalogueWaitShownAfterMs, shows the wait
    // with a cancel button; false when the run ends (message shown and 101
    // posted, or 102 when the wait was cancelled or the frame closed).
    bool LoadCatalogue();
    static constexpr ULONGLONG kCatalogueWaitShownAfterMs = 2000;
    // "-q -u": removes every recorded item without a window.
    void RemoveEverythingQuietly();
    LRESULT OnUninstallDone();
    LRESULT OnUninstallRunning(WPARAM enable);
    LRESULT OnClose();
    // 0 when this run holds the machine; else the exit code: another run
    // holds it (1618), or the staging folder that holds the lock was
    // refused (1603, shown).
    DWORD ClaimTheRun();

    CRunLock m_runLock;
    zelto::ScopedKernelHandle m_hFetchCancel;   // set while the catalogue is fetched
    bool m_bAsking = false;             // the notification dialog is up
    bool m_bUninstallRunning = false;   // the wizard's removal runs
    bool m_bCloseRequested = false;     // WM_CLOSE came while one of them ran
};
