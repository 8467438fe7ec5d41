// The application object: the main frame and its message loop.
#pragma once

#include "app/MainFrame.h"
#include "base/Handles.h"

#include <memory>

class CZeltoMgrApp {
public:
    BOOL InitInstance();
    int Run();            // the message loop, until the main frame is gone
    int ExitInstance();

    HWND GetMainWnd() const { return m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr; }

private:
    std::unique_ptr<CMainFrame> m_pMainWnd;
    int m_nExitCode = 0;
};
