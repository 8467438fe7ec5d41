// The program's main window (the hidden main frame): set while it exists.
// Every part that ends the run posts WM_CLOSE to it.
#pragma once

#include <windows.h>

HWND GetMainFrameWindow();
void SetMainFrameWindow(HWND window);
