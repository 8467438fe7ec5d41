#include "ui/KWB_UI_Drawer.h"
#include "ui/SkinButton.h"
#include "ui/SkinProgress.h"

#include "resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class HostWindow {
public:
    HostWindow()
    {
        m_wnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 400, 100, nullptr, nullptr, nullptr,
                                  nullptr);
    }
    ~HostWindow() { ::DestroyWindow(m_wnd); }
    HWND get() const { return m_wnd; }

private:
    HWND m_wnd;
};

TEST(SkinButton, FourStatesAndVariants)
{
    HostWindow host;
    HWND push = ::CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 63, 33, host.get(),
                                  reinterpret_cast<HMENU>(1), nullptr, nullptr);
    CxSkinButton button;
    ASSERT_TRUE(button.Attach(push));
    button.SetSkin(IDB_BTN_OK);
    EXPECT_EQ(63, button.StateSize().cx) << "a 252 x 33 strip gives four 63 x 33 images";
    EXPECT_EQ(33, button.StateSize().cy);
    EXPECT_EQ(BS_OWNERDRAW, ::GetWindowLongA(push, GWL_STYLE) & BS_TYPEMASK);
    EXPECT_EQ(CxSkinButton::PUSH, button.GetVariant());

    EXPECT_EQ(CxSkinButton::NORMAL, button.CurrentState());
    ::SendMessageA(push, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(CxSkinButton::OVER, button.CurrentState());
    ::SendMessageA(push, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(CxSkinButton::DOWN, button.CurrentState());
    ::SendMessageA(push, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 5));
    EXPECT_EQ(CxSkinButton::OVER, button.CurrentState()) << "held and moved off: shown released";
    ::SendMessageA(push, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(CxSkinButton::DOWN, button.CurrentState());
    ::SendMessageA(push, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ::SendMessageA(push, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(CxSkinButton::NORMAL, button.CurrentState());
    ::EnableWindow(push, FALSE);
    EXPECT_EQ(CxSkinButton::DISABLED, button.CurrentState());

    HWND box = ::CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 0, 40, 20, 20, host.get(),
                                 reinterpret_cast<HMENU>(2), nullptr, nullptr);
    CxSkinButton toggle;
    toggle.Attach(box);
    toggle.SetSkin(IDB_BTN_CLOSE);
    EXPECT_EQ(CxSkinButton::TOGGLE, toggle.GetVariant());
    ::SendMessageA(box, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(BST_CHECKED, ::SendMessageA(box, BM_GETCHECK, 0, 0));
    EXPECT_EQ(CxSkinButton::DOWN, toggle.CurrentState()) << "checked shows the down image";
    ::SendMessageA(box, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(BST_UNCHECKED, ::SendMessageA(box, BM_GETCHECK, 0, 0));
}

TEST(SkinProgress, GeometryOfTheNineSlices)
{
    // Skin 168 (90 x 17): ten-pixel slices. Position 0 of a 310-pixel bar.
    SkinProgressGeometry g = CSkinProgress::Geometry(310, 10, 0, 100, 0, 0, FALSE);
    EXPECT_EQ(0, g.barStart);
    EXPECT_EQ(10, g.barEnd);
    EXPECT_EQ(300, g.frameEnd);
    g = CSkinProgress::Geometry(310, 10, 0, 100, 100, 0, FALSE);
    EXPECT_EQ(300, g.barEnd);
    g = CSkinProgress::Geometry(310, 10, 0, 100, 50, 0, TRUE);
    EXPECT_EQ(300 - 155, g.barStart) << "reverse mirrors about the frame end";
    EXPECT_EQ(300, g.barEnd);
    g = CSkinProgress::Geometry(310, 10, 5, 5, 5, 5, FALSE);
    EXPECT_EQ(10, g.barEnd) << "an empty range is an empty bar, not a division by zero";
}

TEST(SkinProgress, PositionsOverARealControl)
{
    HostWindow host;
    HWND target = ::CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE, 52, 40, 310, 17, host.get(),
                                    reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    CSkinProgress progress;
    ASSERT_TRUE(progress.Create(target, 1000, IDB_PROGRESS, FALSE));
    EXPECT_EQ(10, progress.SliceSize());
    EXPECT_FALSE(progress.IsVertical());
    RECT rc;
    ::GetWindowRect(progress.GetSafeHwnd(), &rc);
    EXPECT_EQ(310, rc.right - rc.left);

    EXPECT_EQ(0, progress.SetPos(2000));
    EXPECT_EQ(1000, progress.GetPos()) << "clamped to the upper bound";
    EXPECT_EQ(25600, progress.GetPos(TRUE));
    progress.SetPos(-5);
    EXPECT_EQ(0, progress.GetPos());
    progress.SetPos(500);
    EXPECT_EQ(12800, progress.GetPos(TRUE));
    int paints = progress.Paints();
    progress.Refresh();
    EXPECT_EQ(paints, progress.Paints()) << "an unchanged geometry does not repaint";
    progress.StepIt();
    progress.OffsetPos(10);
    EXPECT_EQ(511, progress.GetPos());
    progress.SetStart(600);
    EXPECT_EQ(600, progress.GetPos()) << "never below the start";
    progress.SetRange(0, 0);
    EXPECT_EQ(0, progress.GetPos(TRUE)) << "empty range: percent 0";
}

// The bar's pixels as the window shows them.
std::vector<DWORD> Shown(const CSkinProgress& progress)
{
    RECT client;
    ::GetClientRect(progress.GetSafeHwnd(), &client);
    std::vector<DWORD> pixels(static_cast<size_t>(client.right) * client.bottom);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    zelto::ScopedWindowDc screen(nullptr);
    ::GetDIBits(screen.get(), progress.Offscreen(), 0, client.bottom, pixels.data(), &info, DIB_RGB_COLORS);
    return pixels;
}

// A bar that moves by small steps repaints only the stretch that changed;
// at every step it must show what a whole paint at that position shows.
TEST(SkinProgress, EveryStepIsDrawnWhole)
{
    HostWindow host;
    auto make = [&](int id) {
        return ::CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE, 0, 40 * (id - 1000), 310, 17,
                                 host.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    };
    CSkinProgress stepped, whole;
    ASSERT_TRUE(stepped.Create(make(1000), 1000, IDB_PROGRESS, FALSE));
    ASSERT_TRUE(whole.Create(make(1001), 1000, IDB_PROGRESS, FALSE));
    int checked = 0;
    // Steps of a pixel or two and of several slices.
    for (int pos = 0; pos <= 1000; pos += pos % 3 ? 3 + pos % 11 : 60 + pos % 50) {
        const int paints = stepped.Paints();
        stepped.SetPos(pos);
        if (stepped.Paints() == paints) continue;
        whole.SetPos(pos, FALSE);
        whole.SetBackground(::GetSysColor(COLOR_BTNFACE));   // forgets the last paint: a whole one
        ASSERT_EQ(Shown(whole), Shown(stepped)) << "at position " << pos;
        ++checked;
    }
    EXPECT_GT(checked, 15);
}

TEST(SkinProgress, VerticalWhenTallerThanWide)
{
    HostWindow host;
    HWND target = ::CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE, 0, 0, 17, 90, host.get(),
                                    reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    CSkinProgress progress;
    ASSERT_TRUE(progress.Create(target, 10, IDB_PROGRESS, FALSE));
    EXPECT_TRUE(progress.IsVertical());
    progress.SetPos(5);
    EXPECT_EQ(10 + 35, progress.LastGeometry().barEnd);
}

}  // namespace
