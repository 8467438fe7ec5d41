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

// A dialog that has not appeared after 5 s fails the test, saying what it
// was to be answered with. So that the test's modal call always returns,
// the driver then closes (IDCANCEL) any dialog of this program that comes
// late, and after its answer any other dialog that follows (a question
// asked again), until it is destroyed; each such dialog fails the test.
class DialogDriver {
public:
    // whileUp(dialog) runs once the dialog is shown; then msg is posted to it.
    DialogDriver(UINT msg, WPARAM wParam, std::function<void(HWND)> whileUp = nullptr)
        : m_msg(msg), m_wParam(wParam), m_thread([=] {
              HWND dialog = nullptr;
              for (int i = 0; i < 200 && !dialog && !m_stop; ++i) {
                  ::Sleep(25);
                  dialog = FindOwnDialog();
              }
              if (dialog) {
                  m_found = true;
                  ::Sleep(100);
                  if (whileUp) whileUp(dialog);
                  ::PostMessageA(dialog, msg, wParam, 0);
              }
              while (!m_stop) {
                  HWND other = FindOwnDialog();
                  if (other && other != dialog) {
                      ++m_unexpected;
                      ::PostMessageA(other, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                      ::Sleep(200);
                  }
                  ::Sleep(50);
              }
          })
    {
    }
    ~DialogDriver()
    {
        m_stop = true;
        m_thread.join();
#ifdef ZELTO_DIALOG_DRIVER_REPORTS
        if (!m_found)
            ADD_FAILURE() << "waited 5 s for a dialog of this test program that never appeared (it was to receive "
                          << "message " << m_msg << " with wParam " << LOWORD(m_wParam) << ")";
        if (m_unexpected)
            ADD_FAILURE() << m_unexpected << " more dialog(s) appeared " << (m_found ? "after the answer" : "late")
                          << "; each was closed with IDCANCEL";
#endif
    }

private:
    UINT m_msg;
    WPARAM m_wParam;
    std::atomic<bool> m_found{false}, m_stop{false};
    std::atomic<int> m_unexpected{0};
    std::thread m_thread;
};

}  // namespace testutil
