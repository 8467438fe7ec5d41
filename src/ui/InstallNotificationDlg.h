// The confirmation the user sees before anything is installed: the
// components about to be installed with their descriptions, a warning for
// an untrusted publisher, and the offers to make the portal the start page
// and default search and not to show this window on updates.
#pragma once

#include "base/Handles.h"
#include "sys/Dialog.h"
#include "ui/KWB_UI_Drawer.h"
#include "ui/SkinButton.h"

class CInstallNotificationDlg : public CDialog, public CKWB_UI_Drawer {
public:
    explicit CInstallNotificationDlg(HWND parent = nullptr);
    // Loads the rich-edit library on first use (the start of a run needs none).
    INT_PTR DoModal();

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnInstall();
    void Append(int control, const char* text, int points, bool bold, COLORREF colour);
    void FitQuestion();

    HWND m_hParent;
    CxSkinButton m_btnInstall, m_btnCancel, m_btnClose;
    zelto::ScopedGdiObject m_brush;
};
