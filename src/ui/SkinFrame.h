// The frame every skinned window shares: background, corners, edges and the
// logo as painted elements; a window shape without the four corner pixels;
// dragging by a press anywhere inside a band.
#pragma once

#include "ui/KWB_UI_Drawer.h"

namespace skin {

// Adds background (stretched to width x height), corners, edges and logo.
void AddFrameElements(CKWB_UI_Drawer& drawer, UINT backgroundId, int width, int height);
// Sizes the window without moving it and cuts its four corner pixels.
void ShapeWindow(HWND wnd, int width, int height);
// Starts dragging the window when (x, y) lies in [0, width) x [0, height).
bool DragIfInside(HWND wnd, LPARAM point, int width, int height);
// What every skinned window does alike: no background erasing (the painted
// elements cover it) and dragging by a press inside the band. TRUE when msg
// was one of these, with result set.
BOOL HandleFrameInput(HWND wnd, UINT msg, LPARAM lParam, int width, int height, LRESULT& result);

}  // namespace skin
