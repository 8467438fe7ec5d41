// A top-level window of our own class with virtual message handling: the
// object is bound to its window at WM_NCCREATE and unbound at WM_NCDESTROY.
#pragma once

#include <windows.h>

class CFrameWindow {
public:
    CFrameWindow() = default;
    virtual ~CFrameWindow();
    CFrameWindow(const CFrameWindow&) = delete;
    CFrameWindow& operator=(const CFrameWindow&) = delete;

    // Registers the class (once per name) and creates the window.
    BOOL Create(const char* className, const char* title, DWORD style, DWORD exStyle,
                HICON icon, UINT classStyle);

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL DestroyWindow();

protected:
    // Handles one message; the default passes it to DefWindowProcA.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (WM_NCDESTROY).
    virtual void OnFinalMessage() {}

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK StaticWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
};
