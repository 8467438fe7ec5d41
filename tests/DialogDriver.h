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
#include <vector>

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

// Answers the dialogs of this test program one after another: each answer
// goes to the next dialog that appears. A dialog that has not appeared
// after 5 s fails the test, saying what it was to be answered with. So that
// the test's modal call always returns, the driver then closes (IDCANCEL)
// any dialog of this program that comes late, and after its last answer any
// other dialog that follows (a question asked again), until it is
// destroyed; each such dialog fails the test.
class DialogDriver {
public:
    // whileUp(dialog) runs once the first dialog is shown; then msg is posted to it.
    DialogDriver(UINT msg, WPARAM wParam, std::function<void(HWND)> whileUp = nullptr)
        : DialogDriver(msg, std::vector<WPARAM>{wParam}, whileUp)
    {
    }
    DialogDriver(UINT msg, std::vector<WPARAM> answers, std::function<void(HWND)> whileUp = nullptr)
        : m_msg(msg), m_answers(std::move(answers)), m_thread([this, whileUp] {
              HWND dialog = nullptr;
              for (WPARAM answer : m_answers) {
                  HWND next = nullptr;
                  for (int i = 0; i < 200 && !next && !m_stop; ++i) {
                      ::Sleep(25);
                      next = FindOwnDialog();   // the one answered before has closed
                  }
                  if (!next) break;
                  ::Sleep(100);
                  if (whileUp && m_answered == 0) whileUp(next);
                  ::PostMessageA(next, m_msg, answer, 0);
                  ++m_answered;
                  dialog = next;
                  // The answered dialog closes before the next one is looked for.
                  for (int i = 0; i < 200 && ::IsWindow(dialog) && ::IsWindowVisible(dialog); ++i) ::Sleep(25);
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
        if (m_answered < m_answers.size())
            ADD_FAILURE() << "waited 5 s for dialog " << m_answered + 1 << " of " << m_answers.size()
                          << " of this test program, which never appeared (it was to receive message " << m_msg
                          << " with wParam " << LOWORD(m_answers[m_answered]) << ")";
        if (m_unexpected)
            ADD_FAILURE() << m_unexpected << " more dialog(s) appeared "
                          << (m_answered == m_answers.size() ? "after the last answer" : "late")
                          << "; each was closed with IDCANCEL";
#endif
    }

private:
    UINT m_msg;
    std::vector<WPARAM> m_answers;
    std::atomic<size_t> m_answered{0};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_unexpected{0};
    std::thread m_thread;
};

}  // namespace testutil
