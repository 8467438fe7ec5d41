#include "base/MainWindow.h"

namespace {

HWND g_mainFrameWindow = nullptr;

}  // namespace

HWND GetMainFrameWindow()
{
    return g_mainFrameWindow;
}

void SetMainFrameWindow(HWND window)
{
    g_mainFrameWindow = window;
}
