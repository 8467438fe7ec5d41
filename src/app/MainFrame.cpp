#include "app/MainFrame.h"

#include "catalogue/CatalogueSignature.h"

#include "app/AccountCheck.h"
#include "app/CommandLine.h"
#include "base/Log.h"
#include "base/MainWindow.h"
#include "base/Messages.h"
#include "base/RunOutcome.h"
#include "base/RunMode.h"
#include "base/Strings.h"
#include "catalogue/CatalogueSignature.h"
#include "catalogue/UpdateInfoMgr.h"

#include "resource.h"

CMainFrame::CMainFrame()
{
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN));
    std::string title = LoadResString(IDS_APP_TITLE);
    // A pop-up with an empty rectangle, never visible: the frame shows nothing.
    Create("ZeltoSetupMainFrame", title.c_str(), WS_POPUP, 0, icon, CS_HREDRAW | CS_VREDRAW);
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        return OnCreate();
    case UM_START:
        return OnStart();
    case UM_UNINSTALL_DONE:
        return OnUninstallDone();
    case UM_UNINSTALL_RUNNING:
        return OnUninstallRunning(wParam);
    case WM_CLOSE:
        return OnClose();
    case WM_DESTROY:
        // The run is over: the catalogue manager and everything it holds go.
        CUpdateInfoMgr::DeleteInstance();
        if (GetMainFrameWindow() == m_hWnd) SetMainFrameWindow(nullptr);
        ::PostQuitMessage(0);
        return 0;
    default:
        return CFrameWindow::WindowProc(msg, wParam, lParam);
    }
}

int CMainFrame::OnCreate()
{
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    const RunSwitches switches = ReadSwitches(__argc, __argv);
    SetQuietRun(switches.quiet);
    SetVerifyRun(switches.verify);
    if (switches.logPath.empty() || !StartLogFile(LOG_FLAG_DEBUGGER, switches.logPath.c_str())) {
        m_dwLogError = ::GetLastError();
        StartLog(LOG_FLAG_DEBUGGER, ReadLogLevelSetting());
        if (!switches.logPath.empty()) {
            // Ends the run (OnStart): an existing name as a refused command
            // line, a file that cannot be made as a log that cannot be opened.
            m_bLogRefused = true;
            WriteLog(1, "[OnCreate] -l %s refused: something of that name exists, or no file can be made there "
                        "(Error Code = %d)", switches.logPath.c_str(), m_dwLogError);
        }
    }
    if (ZELTO_CATALOGUE_SAMPLE_KEY)
        WriteLog(1, "[OnCreate] This program trusts the SAMPLE catalogue key, whose private half is public: "
                    "a test build, never to be shipped");
    else if (!CatalogueSignatureRequired())
        WriteLog(1, "[OnCreate] This program accepts unsigned catalogues: a development build, never to be shipped");
    SetMainFrameWindow(m_hWnd);

    if (!AccountMayRun()) {
        SetRunExitCode(EXIT_RUN_FAILED);
        SetMainFrameWindow(nullptr);
        return -1;
    }
    ::PostMessageA(m_hWnd, UM_START, 0, 0);
    return 0;
}
