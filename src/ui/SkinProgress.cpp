#include "ui/SkinProgress.h"

#include "ui/KWB_UI_Drawer.h"

#include <algorithm>
#include <vector>

namespace {

const char kClass[] = "ZeltoSkinProgress";
const UINT_PTR kRefreshTimer = 1;
const COLORREF kTransparent = RGB(0, 255, 255);

// Scales a position onto the bar; an empty range counts as position 0.
int Scale(int value, int lower, int upper, int usable)
{
    if (upper == lower) return 0;
    return static_cast<int>(static_cast<long long>(value - lower) * usable / (upper - lower));
}

// The pixels of a bitmap as 32-bit rows, top first.
std::vector<DWORD> Pixels(HDC dc, HBITMAP bitmap, int w, int h)
{
    std::vector<DWORD> pixels(static_cast<size_t>(w) * h);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    ::GetDIBits(dc, bitmap, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
    return pixels;
}

HBITMAP FromPixels(HDC dc, const std::vector<DWORD>& pixels, int w, int h)
{
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HBITMAP bitmap = ::CreateCompatibleBitmap(dc, w, h);
    ::SetDIBits(dc, bitmap, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
    return bitmap;
}

}  // namespace

SkinProgressGeometry CSkinProgress::Geometry(int length, int slice, int lower, int upper, int pos, int start,
                                             BOOL reverse)
{
    const int usable = length - 2 * slice;
    SkinProgressGeometry g;
    g.frameEnd = length - slice;
    g.barEnd = std::min(slice + Scale(pos, lower, upper, usable), length - slice);
    g.barStart = std::min(Scale(start, lower, upper, usable), g.barEnd - slice);
    if (reverse) {
        int mirroredStart = g.frameEnd - g.barEnd, mirroredEnd = g.frameEnd - g.barStart;
        g.barStart = mirroredStart;
        g.barEnd = mirroredEnd;
    }
    return g;
}

CSkinProgress::~CSkinProgress()
{
    Destroy();
}

void CSkinProgress::Destroy()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        ::KillTimer(m_hWnd, kRefreshTimer);
        ::ShowWindow(m_hWnd, SW_HIDE);
        ::SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
    if (m_hSlices) ::ImageList_Destroy(m_hSlices);
    m_hSlices = nullptr;
    m_offscreen.reset();
}

BOOL CSkinProgress::Create(HWND target, int upper, UINT skinId, BOOL reverse)
{
    if (!target) return FALSE;
    WNDCLASSA wc = {};
    if (!::GetClassInfoA(::GetModuleHandleA(nullptr), kClass, &wc)) {
        wc.lpfnWndProc = &CSkinProgress::Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hCursor = ::LoadCursorA(nullptr, IDC_WAIT);
        wc.lpszClassName = kClass;
        ::RegisterClassA(&wc);
    }
    m_hTarget = target;
    m_nLower = 0;
    m_nUpper = upper;
    m_nStep = 1;
    m_bReverse = reverse;
    m_nSkinId = skinId;

    RECT rc;
    ::GetWindowRect(target, &rc);
    HWND parent = ::GetParent(target);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
    m_bVertical = (rc.bottom - rc.top) > (rc.right - rc.left);
    m_hWnd = ::CreateWindowExA(0, kClass, "", WS_CHILD | WS_VISIBLE, rc.left, rc.top, rc.right - rc.left,
                               rc.bottom - rc.top, parent, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    if (!m_hWnd) return FALSE;
    ::SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    PrepareSkin();
    ::SetTimer(m_hWnd, kRefreshTimer, 500, nullptr);
    Refresh();
    return TRUE;
}

BOOL CSkinProgress::PrepareSkin()
{
    if (m_hSlices) ::ImageList_Destroy(m_hSlices);
    m_hSlices = nullptr;
    SIZE size;
    zelto::ScopedGdiObject skin(LoadResBitmap(m_nSkinId, &size));
    if (!skin || !m_hWnd || size.cx < 9) return FALSE;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int thickness = m_bVertical ? client.right : client.bottom;
    const int slice = size.cx / 9;
    m_nSlice = slice;
    if (thickness <= 0) return FALSE;

    zelto::ScopedWindowDc screen(nullptr);
    zelto::ScopedMemoryDc from(::CreateCompatibleDC(screen.get())), to(::CreateCompatibleDC(screen.get()));
    // The skin stretched across the bar's thickness.
    zelto::ScopedGdiObject stretched(::CreateCompatibleBitmap(screen.get(), slice * 9, thickness));
    {
        zelto::ScopedSelectObject a(from.get(), skin.get());
        zelto::ScopedSelectObject b(to.get(), stretched.get());
        ::SetStretchBltMode(to.get(), HALFTONE);
        ::StretchBlt(to.get(), 0, 0, slice * 9, thickness, from.get(), 0, 0, slice * 9, size.cy, SRCCOPY);
    }
    HBITMAP strip = static_cast<HBITMAP>(stretched.get());
    zelto::ScopedGdiObject rotated;
    int cx = slice, cy = thickness;
    if (m_bVertical) {
        // Each slice turned so that the slices stack along the bar's height.
        std::vector<DWORD> source = Pixels(screen.get(), strip, slice * 9, thickness);
        std::vector<DWORD> target(source.size());
        const int w = thickness * 9, h = slice;
        for (int s = 0; s < 9; ++s)
            for (int x = 0; x < slice; ++x)
                for (int y = 0; y < thickness; ++y)
                    target[static_cast<size_t>(x) * w + s * thickness + y] =
                        source[static_cast<size_t>(y) * slice * 9 + s * slice + x];
        rotated.reset(FromPixels(screen.get(), target, w, h));
        strip = static_cast<HBITMAP>(rotated.get());
        cx = thickness;
        cy = slice;
    }
    m_hSlices = ::ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, 9, 0);
    ::ImageList_AddMasked(m_hSlices, strip, kTransparent);
    m_last = {-1, -1, -1};
    return TRUE;
}

void CSkinProgress::Refresh()
{
    if (!m_hWnd || !::IsWindow(m_hWnd)) return;
    RECT rc;
    ::GetWindowRect(m_hWnd, &rc);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int length = m_bVertical ? client.bottom : client.right;
    SkinProgressGeometry g = Geometry(length, m_nSlice, m_nLower, m_nUpper, m_nPos, m_nStart, m_bReverse);
    bool moved = !::EqualRect(&rc, &m_lastRect);
    if (!moved && g.frameEnd == m_last.frameEnd && g.barStart == m_last.barStart && g.barEnd == m_last.barEnd) return;
    bool full = moved || !m_offscreen || g.barStart != m_last.barStart || g.frameEnd != m_last.frameEnd;
    m_lastRect = rc;
    SkinProgressGeometry previous = m_last;
    m_last = g;
    if (full) {
        Paint(0, length);
    } else {
        // Only the bar's end moved: re-tile from the lower of the two ends
        // (and centre marks) to the higher one, one slice either side.
        int oldMiddle = (previous.barStart + previous.barEnd) / 2, newMiddle = (g.barStart + g.barEnd) / 2;
        int lowest = std::min({previous.barEnd, g.barEnd, oldMiddle, newMiddle, previous.barStart, g.barStart});
        int highest = std::max({previous.barEnd, g.barEnd, oldMiddle, newMiddle});
        Paint(lowest - m_nSlice, highest + 2 * m_nSlice);
    }
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CSkinProgress::Paint(int from, int to)
{
    if (!m_hSlices) return;
    ++m_nPaints;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    zelto::ScopedWindowDc window(m_hWnd);
    if (!m_offscreen) m_offscreen.reset(::CreateCompatibleBitmap(window.get(), client.right, client.bottom));
    zelto::ScopedMemoryDc dc(::CreateCompatibleDC(window.get()));
    zelto::ScopedSelectObject selected(dc.get(), m_offscreen.get());

    const int e = m_nSlice;
    const SkinProgressGeometry& g = m_last;
    auto put = [&](int slice, int at) {
        int x = m_bVertical ? 0 : at, y = m_bVertical ? at : 0;
        ::ImageList_Draw(m_hSlices, slice, dc.get(), x, y, ILD_NORMAL);
    };
    // Behind the slices' transparent parts: the background, over the
    // stretch being painted.
    RECT stretch = client;
    if (m_bVertical) { stretch.top = std::max(0, from); stretch.bottom = std::min<LONG>(client.bottom, to); }
    else { stretch.left = std::max(0, from); stretch.right = std::min<LONG>(client.right, to); }
    if (from <= 0 && to >= m_last.frameEnd) stretch = client;
    zelto::ScopedGdiObject brush(::CreateSolidBrush(m_background));
    ::FillRect(dc.get(), &stretch, static_cast<HBRUSH>(brush.get()));
    // The body: empty background beyond the bar, fill within it, on tiles of
    // the slice size, over the stretch [from, to) only.
    int low = std::min(g.barStart, g.barEnd), high = std::max(g.barStart, g.barEnd);
    from = std::max(from, e);
    to = std::min(to, g.frameEnd);
    if (e > 0) {
        for (int x = (from / e) * e; x < to; x += e) put(x >= low && x < high ? 4 : 7, x);
    }
    put(3, (low + high) / 2);
    if (low > e) put(1, low - e);
    if (high < g.frameEnd - e) put(6, high + e);
    put(0, 0);
    put(8, g.frameEnd);
    put(m_bReverse ? 5 : 2, low);
    put(m_bReverse ? 2 : 5, high);
}

int CSkinProgress::SetPos(int pos, BOOL refresh)
{
    if (!m_hWnd || !::IsWindow(m_hWnd)) return 0;
    int previous = m_nPos;
    pos = std::max(m_nLower, std::min(m_nUpper, pos));
    pos = std::max(pos, m_nStart);
    m_nPrevPos = previous;
    m_nPos = pos;
    if (refresh) Refresh();
    return previous;
}

int CSkinProgress::GetPos(BOOL percent) const
{
    if (!percent) return m_nPos;
    if (m_nUpper == m_nLower) return 0;
    return static_cast<int>(static_cast<long long>(m_nPos - m_nLower) * 25600 / (m_nUpper - m_nLower));
}

int CSkinProgress::OffsetPos(int delta, BOOL refresh)
{
    return SetPos(m_nPos + delta, refresh);
}

int CSkinProgress::StepIt(BOOL refresh)
{
    return SetPos(m_nPos + m_nStep, refresh);
}

void CSkinProgress::SetRange(int lower, int upper, int step, BOOL rescale, BOOL refresh)
{
    if (!m_hWnd) return;
    if (rescale && m_nUpper != m_nLower) {
        m_nPos = lower + static_cast<int>(static_cast<long long>(m_nPos - m_nLower) * (upper - lower) / (m_nUpper - m_nLower));
        m_nStart = lower + static_cast<int>(static_cast<long long>(m_nStart - m_nLower) * (upper - lower) / (m_nUpper - m_nLower));
    }
    m_nLower = lower;
    m_nUpper = upper;
    m_nStep = step;
    SetPos(m_nPos, refresh);
}

int CSkinProgress::SetStart(int start, BOOL refresh)
{
    if (!m_hWnd) return 0;
    int previous = m_nStart;
    m_nStart = std::max(m_nLower, std::min(m_nUpper, start));
    if (m_nPos < m_nStart) m_nPos = m_nStart;
    if (refresh) Refresh();
    return previous;
}

BOOL CSkinProgress::SetBitmap(UINT skinId, BOOL refresh)
{
    if (!m_hWnd) return FALSE;
    m_nSkinId = skinId;
    BOOL ok = PrepareSkin();
    if (refresh) Refresh();
    return ok;
}

LRESULT CALLBACK CSkinProgress::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CSkinProgress*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcA(wnd, msg, wParam, lParam);
    switch (msg) {
    case WM_TIMER:
        if (wParam == kRefreshTimer) self->Refresh();
        return 0;
    case WM_ERASEBKGND:
        self->Refresh();
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(wnd, &ps);
        if (self->m_offscreen) {
            RECT client;
            ::GetClientRect(wnd, &client);
            zelto::ScopedMemoryDc memory(::CreateCompatibleDC(dc));
            zelto::ScopedSelectObject selected(memory.get(), self->m_offscreen.get());
            ::BitBlt(dc, 0, 0, client.right, client.bottom, memory.get(), 0, 0, SRCCOPY);
        }
        ::EndPaint(wnd, &ps);
        return 0;
    }
    default:
        return ::DefWindowProcA(wnd, msg, wParam, lParam);
    }
}
