#include "sys/FrameWindow.h"

CFrameWindow::~CFrameWindow()
{
    if (m_hWnd) {
        ::SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hWnd);
    }
}

BOOL CFrameWindow::Create(const char* className, const char* title, DWORD style, DWORD exStyle,
                          HICON icon, UINT classStyle)
{
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA wc = {};
    if (!::GetClassInfoExA(instance, className, &wc)) {
        wc.cbSize = sizeof(wc);
        wc.style = classStyle;
        wc.lpfnWndProc = &CFrameWindow::StaticWindowProc;
        wc.hInstance = instance;
        wc.hIcon = icon;
        wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = nullptr;
        wc.lpszClassName = className;
        if (!::RegisterClassExA(&wc)) return FALSE;
    }
    HWND wnd = ::CreateWindowExA(exStyle, className, title, style, 0, 0, 0, 0, nullptr, nullptr,
                                 instance, this);
    return wnd != nullptr;
}

BOOL CFrameWindow::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

LRESULT CFrameWindow::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CFrameWindow::StaticWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CFrameWindow* self = nullptr;
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        self = static_cast<CFrameWindow*>(create->lpCreateParams);
        self->m_hWnd = wnd;
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CFrameWindow*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
    }
    if (!self) return ::DefWindowProcA(wnd, msg, wParam, lParam);

    LRESULT result = 0;
    try {
        result = self->WindowProc(msg, wParam, lParam);
    } catch (...) {
        // No exception crosses the window procedure.
        result = 0;
    }
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        self->OnFinalMessage();
    }
    return result;
}
