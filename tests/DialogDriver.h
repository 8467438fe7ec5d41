// Drives a modal dialog of this test program from a helper thread: waits for
// the dialog, runs a check while it is up, then posts a message to it.
#pragma once

#include <windows.h>

// The test programs report a dialog that never appeared; the screenshot
// helper (no GoogleTest) only drives dialogs.
#if __has_include(<gtest/gtest.h>)
#include <gtest/gtest.h>
#define ZELTO_DIALOG_DRIVER_REPORTS 1
#endif

#include <atomic>
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

// A dialog that never appears fails the test after 5 s, saying what it was
// to be answered with (the test itself then goes on without it).
class DialogDriver {
public:
    // whileUp(dialog) runs once the dialog is shown; then msg is posted to it.
    DialogDriver(UINT msg, WPARAM wParam, std::function<void(HWND)> whileUp = nullptr)
        : m_msg(msg), m_wParam(wParam), m_thread([=] {
              HWND dialog = nullptr;
              for (int i = 0; i < 200 && !dialog; ++i) {
                  ::Sleep(25);
                  dialog = FindOwnDialog();
              }
              if (!dialog) return;
              m_found = true;
              ::Sleep(100);
              if (whileUp) whileUp(dialog);
              ::PostMessageA(dialog, msg, wParam, 0);
          })
    {
    }
    ~DialogDriver()
    {
        m_thread.join();
#ifdef ZELTO_DIALOG_DRIVER_REPORTS
        if (!m_found)
            ADD_FAILURE() << "waited 5 s for a dialog of this test program that never appeared (it was to receive "
                          << "message " << m_msg << " with wParam " << LOWORD(m_wParam) << ")";
#endif
    }

private:
    UINT m_msg;
    WPARAM m_wParam;
    std::atomic<bool> m_found{false};
    std::thread m_thread;
};

}  // namespace testutil
