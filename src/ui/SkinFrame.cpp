#include "ui/SkinFrame.h"

#include "resource.h"

namespace skin {

void AddFrameElements(CKWB_UI_Drawer& drawer, UINT backgroundId, int width, int height)
{
    drawer.AddBitmap(backgroundId, {0, 0}, width, height);
    drawer.AddBitmap(IDB_CORNER_TL, {0, 0});
    drawer.AddBitmap(IDB_CORNER_TR, {width - 2, 0});
    drawer.AddBitmap(IDB_CORNER_BL, {0, height - 2});
    drawer.AddBitmap(IDB_CORNER_BR, {width - 2, height - 2});
    drawer.AddBitmap(IDB_EDGE_LEFT, {0, 2}, 2, height - 4);
    drawer.AddBitmap(IDB_EDGE_RIGHT, {width - 2, 2}, 2, height - 4);
    drawer.AddBitmap(IDB_EDGE_TOP, {2, 0}, width - 4, 2);
    drawer.AddBitmap(IDB_EDGE_BOTTOM, {2, height - 2}, width - 4, 2);
    drawer.AddBitmap(IDB_LOGO, {16, 10});
}

void ShapeWindow(HWND wnd, int width, int height)
{
    ::SetWindowPos(wnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    HRGN region = ::CreateRectRgn(0, 0, width, height);
    const POINT corners[] = {{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}};
    for (const POINT& c : corners) {
        zelto::ScopedRegion pixel(::CreateRectRgn(c.x, c.y, c.x + 1, c.y + 1));
        ::CombineRgn(region, region, pixel.get(), RGN_DIFF);
    }
    // The window owns the region from here on.
    if (!::SetWindowRgn(wnd, region, TRUE)) ::DeleteObject(region);
}

bool DragIfInside(HWND wnd, LPARAM point, int width, int height)
{
    int x = static_cast<short>(LOWORD(point)), y = static_cast<short>(HIWORD(point));
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    ::ReleaseCapture();
    ::SendMessageA(wnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    return true;
}

BOOL HandleFrameInput(HWND wnd, UINT msg, LPARAM lParam, int width, int height, LRESULT& result)
{
    if (msg == WM_ERASEBKGND) {
        result = 1;
        return TRUE;
    }
    if (msg == WM_LBUTTONDOWN) {
        DragIfInside(wnd, lParam, width, height);
        result = 0;
        return TRUE;
    }
    return FALSE;
}

}  // namespace skin
