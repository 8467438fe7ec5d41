#include "uninstall/InvPage.h"

#include "resource.h"

BOOL CWizardPage::Create(HWND wizard, HWND mainWnd)
{
    m_hMainWnd = mainWnd;
    return CDialog::Create(wizard);
}

void CWizardPage::Activate(BOOL shown)
{
    ::ShowWindow(m_hWnd, shown ? SW_SHOW : SW_HIDE);
}

void CWizardPage::PlaceInWizard()
{
    ::SetWindowPos(m_hWnd, nullptr, kLeft, kTop, kWidth, kHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    AddBitmap(IDB_BG_PAGE, {0, 0}, kWidth, kHeight);
}

void CWizardPage::CloseProgram() const
{
    if (m_hMainWnd) ::PostMessageA(m_hMainWnd, WM_CLOSE, 0, 0);
}

BOOL CWizardPage::OnMessage(UINT msg, WPARAM, LPARAM, LRESULT& result)
{
    if (msg == WM_ERASEBKGND) {
        result = 1;   // the background bitmap covers the page
        return TRUE;
    }
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(m_hWnd, &ps);
        Draw(dc);
        PaintExtra(dc);
        ::EndPaint(m_hWnd, &ps);
        result = 0;
        return TRUE;
    }
    return FALSE;
}

LOGFONTA PageFont(int points, bool bold)
{
    LOGFONTA font;
    MakeFont(font, "돋움", points, bold ? "b" : "");
    return font;
}
