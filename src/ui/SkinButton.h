// An owner-drawn button whose four states (normal, mouse over, pressed,
// disabled) are cut from one horizontal bitmap strip. Attached to a button
// of a dialog template; push, toggle (auto check box) and radio variants.
#pragma once

#include "base/Handles.h"

class CxSkinButton {
public:
    enum Variant { PUSH, TOGGLE, RADIO };
    enum State { NORMAL = 0, OVER = 1, DOWN = 2, DISABLED = 3 };

    CxSkinButton() = default;
    ~CxSkinButton();
    CxSkinButton(const CxSkinButton&) = delete;
    CxSkinButton& operator=(const CxSkinButton&) = delete;

    // Takes over the button: it becomes owner-drawn and paints itself.
    BOOL Attach(HWND button);
    // stretch: 0 natural size, 1 stretched to the button, 2 tiled.
    void SetSkin(UINT stripId, int stretch = 1, BOOL border = FALSE, int focusMargin = 0);

    HWND GetSafeHwnd() const { return m_hWnd; }
    Variant GetVariant() const { return m_variant; }
    // The state image the button shows now.
    State CurrentState() const;
    int GetCheck() const { return m_nCheck; }
    SIZE StateSize() const { return m_stateSize; }

private:
    void Paint(HDC dc);
    void Click();
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    WNDPROC m_oldProc = nullptr;
    zelto::ScopedGdiObject m_states[4];
    SIZE m_stateSize = {0, 0};
    int m_nStretch = 1;
    BOOL m_bBorder = FALSE;
    int m_nFocusMargin = 0;
    Variant m_variant = PUSH;
    int m_nCheck = 0;
    bool m_bHover = false;
    bool m_bCaptured = false;
    bool m_bPressed = false;   // held down with the pointer over it
};
