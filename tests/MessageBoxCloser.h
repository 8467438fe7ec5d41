// Answers the message boxes this test program shows (from any thread of it)
// with a button, and keeps their texts: the program's failure messages are
// modal, so a test that triggers one needs someone to press OK.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testutil {

class MessageBoxCloser {
public:
    explicit MessageBoxCloser(int button = IDOK) : m_button(button), m_thread([this] { Run(); }) {}
    ~MessageBoxCloser()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

private:
    static BOOL CALLBACK Visit(HWND wnd, LPARAM param)
    {
        auto* self = reinterpret_cast<MessageBoxCloser*>(param);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(wnd, &pid);
        char cls[32] = "";
        ::GetClassNameA(wnd, cls, sizeof(cls));
        if (pid != ::GetCurrentProcessId() || std::string(cls) != "#32770" || !::IsWindowVisible(wnd)) return TRUE;
        HWND label = ::GetDlgItem(wnd, 0xFFFF);
        if (!label) return TRUE;
        char text[2048] = "";
        ::GetWindowTextA(label, text, sizeof(text));
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_texts.push_back(text);
        }
        ::PostMessageA(wnd, WM_COMMAND, MAKEWPARAM(self->m_button, BN_CLICKED), 0);
        return TRUE;
    }
    void Run()
    {
        while (!m_stop) {
            ::EnumWindows(&MessageBoxCloser::Visit, reinterpret_cast<LPARAM>(this));
            ::Sleep(100);
        }
    }

    int m_button;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
    std::thread m_thread;
};

}  // namespace testutil
