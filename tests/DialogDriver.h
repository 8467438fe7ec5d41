// Drives a modal dialog of this test program from a helper thread: waits for
// the dialog, runs a check while it is up, then posts a message to it.
#pragma once

#include <windows.h>

#include <functional>
#include <thread>

namespace testutil {

inline BOOL CALLBACK VisitOwnDialog(HWND wnd, LPARAM param)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    char cls[32] = "";
    ::GetClassNameA(wnd, cls, sizeof(cls));
    if (pid == ::GetCurrentProcessId() && lstrcmpA(cls, "#32770") == 0 && ::IsWindowVisible(wnd)) {
        *reinterpret_cast<HWND*>(param) = wnd;
        return FALSE;
    }
    return TRUE;
}

inline HWND FindOwnDialog()
{
    HWND found = nullptr;
    ::EnumWindows(&VisitOwnDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

class DialogDriver {
public:
    // whileUp(dialog) runs once the dialog is shown; then msg is posted to it.
    DialogDriver(UINT msg, WPARAM wParam, std::function<void(HWND)> whileUp = nullptr)
        : m_thread([=] {
              HWND dialog = nullptr;
              for (int i = 0; i < 200 && !dialog; ++i) {
                  ::Sleep(25);
                  dialog = FindOwnDialog();
              }
              if (!dialog) return;
              ::Sleep(100);
              if (whileUp) whileUp(dialog);
              ::PostMessageA(dialog, msg, wParam, 0);
          })
    {
    }
    ~DialogDriver() { m_thread.join(); }

private:
    std::thread m_thread;
};

}  // namespace testutil
