#include "ui/SkinButton.h"

#include "ui/KWB_UI_Drawer.h"

namespace {

const char kProperty[] = "ZeltoSkinButton";

}  // namespace

CxSkinButton::~CxSkinButton()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
        ::RemovePropA(m_hWnd, kProperty);
    }
}

BOOL CxSkinButton::Attach(HWND button)
{
    if (!button || m_hWnd) return FALSE;
    m_hWnd = button;
    LONG style = ::GetWindowLongA(button, GWL_STYLE);
    switch (style & BS_TYPEMASK) {
    case BS_AUTOCHECKBOX: m_variant = TOGGLE; break;
    case BS_AUTORADIOBUTTON: m_variant = RADIO; break;
    default: m_variant = PUSH; break;
    }
    ::SetWindowLongA(button, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
    ::SetPropA(button, kProperty, this);
    m_oldProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CxSkinButton::Proc)));
    return TRUE;
}

void CxSkinButton::SetSkin(UINT stripId, int stretch, BOOL border, int focusMargin)
{
    m_nStretch = stretch;
    m_bBorder = border;
    m_nFocusMargin = focusMargin;
    for (auto& state : m_states) state.reset();
    SIZE size;
    zelto::ScopedGdiObject strip(LoadResBitmap(stripId, &size));
    m_stateSize = {size.cx / 4, size.cy};
    if (!strip || m_stateSize.cx == 0) return;
    zelto::ScopedWindowDc screen(nullptr);
    zelto::ScopedMemoryDc source(::CreateCompatibleDC(screen.get())), target(::CreateCompatibleDC(screen.get()));
    zelto::ScopedSelectObject fromStrip(source.get(), strip.get());
    for (int i = 0; i < 4; ++i) {
        m_states[i].reset(::CreateCompatibleBitmap(screen.get(), m_stateSize.cx, m_stateSize.cy));
        zelto::ScopedSelectObject into(target.get(), m_states[i].get());
        ::BitBlt(target.get(), 0, 0, m_stateSize.cx, m_stateSize.cy, source.get(), i * m_stateSize.cx, 0, SRCCOPY);
    }
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

CxSkinButton::State CxSkinButton::CurrentState() const
{
    if (m_hWnd && !::IsWindowEnabled(m_hWnd)) return DISABLED;
    if (m_bPressed || m_nCheck) return DOWN;
    return m_bHover ? OVER : NORMAL;
}

void CxSkinButton::Paint(HDC dc)
{
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    const int w = rc.right, h = rc.bottom;
    HGDIOBJ image = m_states[CurrentState()].get();
    if (image) {
        zelto::ScopedMemoryDc memory(::CreateCompatibleDC(dc));
        zelto::ScopedSelectObject selected(memory.get(), image);
        if (m_nStretch == 1) {
            ::StretchBlt(dc, 0, 0, w, h, memory.get(), 0, 0, m_stateSize.cx, m_stateSize.cy, SRCCOPY);
        } else if (m_nStretch == 2) {
            for (int y = 0; y < h; y += m_stateSize.cy)
                for (int x = 0; x < w; x += m_stateSize.cx)
                    ::BitBlt(dc, x, y, m_stateSize.cx, m_stateSize.cy, memory.get(), 0, 0, SRCCOPY);
        } else {
            ::BitBlt(dc, 0, 0, m_stateSize.cx, m_stateSize.cy, memory.get(), 0, 0, SRCCOPY);
        }
    }
    if (m_bBorder) ::DrawEdge(dc, &rc, CurrentState() == DOWN ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    if (m_nFocusMargin > 0 && ::GetFocus() == m_hWnd) {
        RECT focus = rc;
        ::InflateRect(&focus, -m_nFocusMargin, -m_nFocusMargin);
        ::DrawFocusRect(dc, &focus);
    }
}

void CxSkinButton::Click()
{
    if (m_variant == TOGGLE) m_nCheck = !m_nCheck;
    else if (m_variant == RADIO) m_nCheck = 1;
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
    ::SendMessageA(::GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(m_hWnd), BN_CLICKED),
                   reinterpret_cast<LPARAM>(m_hWnd));
}

LRESULT CxSkinButton::Handle(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(m_hWnd, &ps);
        Paint(dc);
        ::EndPaint(m_hWnd, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:   // a double click counts as a second press
        ::SetCapture(m_hWnd);
        m_bCaptured = m_bPressed = true;
        if (::GetFocus() != m_hWnd) ::SetFocus(m_hWnd);
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return 0;
    case WM_MOUSEMOVE: {
        if (!m_bHover) {
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
            ::TrackMouseEvent(&track);
            m_bHover = true;
            ::InvalidateRect(m_hWnd, nullptr, FALSE);
        }
        if (m_bCaptured) {
            RECT rc;
            ::GetClientRect(m_hWnd, &rc);
            POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            bool inside = ::PtInRect(&rc, pt) != 0;
            if (inside != m_bPressed) {
                m_bPressed = inside;
                ::InvalidateRect(m_hWnd, nullptr, FALSE);
            }
        }
        return 0;
    }
    case WM_MOUSELEAVE:
        m_bHover = false;
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return 0;
    case WM_LBUTTONUP: {
        bool click = m_bCaptured && m_bPressed;
        m_bPressed = false;
        if (m_bCaptured) {
            m_bCaptured = false;
            ::ReleaseCapture();
        }
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        if (click) Click();
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) { Click(); return 0; }
        break;
    case WM_KILLFOCUS:
        if (m_bCaptured) {
            m_bCaptured = m_bPressed = false;
            ::ReleaseCapture();
            ::InvalidateRect(m_hWnd, nullptr, FALSE);
        }
        break;
    case WM_ENABLE:
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        break;
    case BM_GETCHECK:
        return m_nCheck;
    case BM_SETCHECK:
        m_nCheck = wParam == BST_CHECKED ? 1 : 0;
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return 0;
    case BM_CLICK:
        Click();
        return 0;
    default:
        break;
    }
    return ::CallWindowProcA(m_oldProc, m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CxSkinButton::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<CxSkinButton*>(::GetPropA(wnd, kProperty));
    if (!self) return ::DefWindowProcA(wnd, msg, wParam, lParam);
    try {
        return self->Handle(msg, wParam, lParam);
    } catch (...) {
        return 0;
    }
}
