// A page of the uninstall wizard: what it allows while it is shown, and what
// every page shares (its place in the wizard's content area, the page
// background, painting its elements).
#pragma once

#include "sys/Dialog.h"
#include "ui/KWB_UI_Drawer.h"

class IInvPage {
public:
    virtual ~IInvPage() = default;
    virtual BOOL CanGoBack() = 0;
    virtual BOOL CanGoNext() = 0;
    virtual BOOL CanCancel() = 0;
    // Shows (TRUE) or hides (FALSE) the page window.
    virtual void Activate(BOOL shown) = 0;
};

class CWizardPage : public CDialog, public IInvPage, public CKWB_UI_Drawer {
public:
    using CDialog::CDialog;
    // mainWnd: the window that ends the program when it is closed.
    BOOL Create(HWND wizard, HWND mainWnd);
    void Activate(BOOL shown) override;

    static const int kLeft = 111, kTop = 55, kWidth = 305, kHeight = 190;

protected:
    // Moves the page into the content area and adds its background.
    void PlaceInWizard();
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // Draws over the elements (the list page's frame).
    virtual void PaintExtra(HDC) {}
    void CloseProgram() const;

    HWND m_hMainWnd = nullptr;
};

// Text fonts of the pages.
LOGFONTA PageFont(int points, bool bold);
