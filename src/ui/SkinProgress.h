// A progress bar drawn from a nine-slice bitmap, laid over a standard
// progress control. Slices: 0 left end of the frame, 1 background before the
// bar, 2 bar start, 3 bar centre mark, 4 bar fill, 5 bar end, 6 background
// after the bar, 7 empty background, 8 right end of the frame.
#pragma once

#include "base/Handles.h"

#include <commctrl.h>

// Where the parts of the bar go along its length.
struct SkinProgressGeometry {
    int frameEnd;   // the frame's right (or bottom) end slice
    int barStart;
    int barEnd;
};

class CSkinProgress {
public:
    CSkinProgress() = default;
    ~CSkinProgress();
    CSkinProgress(const CSkinProgress&) = delete;
    CSkinProgress& operator=(const CSkinProgress&) = delete;

    // Covers target with the bar; the range is [0, upper], step 1.
    BOOL Create(HWND target, int upper, UINT skinId, BOOL reverse);

    int SetPos(int pos, BOOL refresh = TRUE);      // returns the previous position
    int GetPos(BOOL percent = FALSE) const;        // percent: in 1/256 units, 25600 = 100 %
    int OffsetPos(int delta, BOOL refresh = TRUE);
    int StepIt(BOOL refresh = TRUE);
    void SetRange(int lower, int upper, int step = 1, BOOL rescale = FALSE, BOOL refresh = TRUE);
    int SetStart(int start, BOOL refresh = TRUE);
    BOOL SetBitmap(UINT skinId, BOOL refresh = TRUE);
    void Refresh();
    // The colour behind the skin's transparent parts (the window's background).
    void SetBackground(COLORREF colour) { m_background = colour; m_last = {-1, -1, -1}; Refresh(); }

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL IsVertical() const { return m_bVertical; }
    int SliceSize() const { return m_nSlice; }
    const SkinProgressGeometry& LastGeometry() const { return m_last; }
    int Paints() const { return m_nPaints; }
    // The off-screen bitmap of the last paint (what the window shows).
    HBITMAP Offscreen() const { return static_cast<HBITMAP>(m_offscreen.get()); }

    // The geometry for a bar of length L with slices of size e. An empty
    // range puts the bar at its start.
    static SkinProgressGeometry Geometry(int length, int slice, int lower, int upper, int pos, int start, BOOL reverse);

private:
    BOOL PrepareSkin();
    void Paint(int from, int to);
    void Destroy();
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    HWND m_hTarget = nullptr;
    UINT m_nSkinId = 0;
    HIMAGELIST m_hSlices = nullptr;
    zelto::ScopedGdiObject m_offscreen;
    int m_nLower = 0, m_nUpper = 100, m_nStep = 1;
    int m_nPos = 0, m_nPrevPos = 0, m_nStart = 0;
    BOOL m_bReverse = FALSE, m_bVertical = FALSE;
    int m_nSlice = 0;
    SkinProgressGeometry m_last = {-1, -1, -1};
    RECT m_lastRect = {0, 0, 0, 0};
    int m_nPaints = 0;
    COLORREF m_background = ::GetSysColor(COLOR_BTNFACE);
};
