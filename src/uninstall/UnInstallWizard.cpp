#include "uninstall/UnInstallWizard.h"

#include "base/Messages.h"
#include "ui/SkinFrame.h"

#include "resource.h"

CUnInstallWizard::CUnInstallWizard() : CDialog(IDD_UNINSTALL_WIZARD) {}

BOOL CUnInstallWizard::Create(HWND mainWnd)
{
    m_hMainWnd = mainWnd;
    return CDialog::Create(mainWnd);
}

void CUnInstallWizard::CloseProgram() const
{
    if (m_hMainWnd) ::PostMessageA(m_hMainWnd, WM_CLOSE, 0, 0);
}

BOOL CUnInstallWizard::OnInitDialog()
{
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::MoveWindow(GetDlgItem(IDC_WIZARD_BACK), 111, 269, 71, 33, FALSE);
    ::MoveWindow(GetDlgItem(IDC_WIZARD_NEXT), 183, 269, 75, 33, FALSE);
    ::MoveWindow(GetDlgItem(IDCANCEL), 263, 269, 58, 33, FALSE);
    ::MoveWindow(GetDlgItem(IDC_WIZARD_CLOSE), 418, 13, 9, 8, FALSE);
    m_btnBack.Attach(GetDlgItem(IDC_WIZARD_BACK));
    m_btnBack.SetSkin(IDB_BTN_BACK);
    m_btnNext.Attach(GetDlgItem(IDC_WIZARD_NEXT));
    m_btnNext.SetSkin(IDB_BTN_NEXT);
    m_btnCancel.Attach(GetDlgItem(IDCANCEL));
    m_btnCancel.SetSkin(IDB_BTN_CANCEL);
    m_btnClose.Attach(GetDlgItem(IDC_WIZARD_CLOSE));
    m_btnClose.SetSkin(IDB_BTN_CLOSE);

    skin::AddFrameElements(*this, IDB_BG_MAIN, kWidth, kHeight);
    AddBitmap(IDB_SIDE, {3, 34});
    skin::ShapeWindow(m_hWnd, kWidth, kHeight);

    if (!m_dlgStart.Create(m_hWnd, m_hMainWnd) || !m_dlgUninstall.Create(m_hWnd, m_hMainWnd) ||
        !m_dlgEnd.Create(m_hWnd, m_hMainWnd)) {
        CloseProgram();
        return TRUE;
    }
    m_nStep = 0;
    ShowPage(&m_dlgStart);
    return FALSE;   // the focus went to next
}

void CUnInstallWizard::ShowPage(CWizardPage* page)
{
    if (m_pCurrentPage) {
        ::ShowWindow(m_pCurrentPage->GetSafeHwnd(), SW_HIDE);
        m_pCurrentPage->Activate(FALSE);
    }
    m_pPreviousPage = m_pCurrentPage;
    m_pCurrentPage = page;
    HWND back = GetDlgItem(IDC_WIZARD_BACK), cancel = GetDlgItem(IDCANCEL), next = GetDlgItem(IDC_WIZARD_NEXT);
    if (page) {
        ::ShowWindow(page->GetSafeHwnd(), SW_SHOW);
        ::EnableWindow(back, page->CanGoBack());
        ::EnableWindow(cancel, page->CanCancel());
        ::EnableWindow(next, page->CanGoNext());
        page->Activate(TRUE);
    } else {
        ::EnableWindow(back, FALSE);
        ::EnableWindow(cancel, TRUE);
        ::EnableWindow(next, TRUE);
    }
    ::SetFocus(next);
}

void CUnInstallWizard::SetNextBitmap(UINT bitmapId)
{
    m_btnNext.SetSkin(bitmapId);
    ::RedrawWindow(m_btnNext.GetSafeHwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ERASE | RDW_INVALIDATE);
}

void CUnInstallWizard::OnNext()
{
    switch (m_nStep) {
    case 0:
        ShowPage(&m_dlgUninstall);
        SetNextBitmap(IDB_BTN_REMOVE);
        m_nStep = 1;
        break;
    case 1:
        // The end page comes with UM_UNINSTALL_DONE.
        m_dlgUninstall.OnRemove();
        break;
    case 2:
        CloseProgram();
        break;
    default:
        break;
    }
    if (m_hWnd) ::SetForegroundWindow(m_hWnd);
}

void CUnInstallWizard::OnBack()
{
    if (m_nStep == 1) {
        ShowPage(&m_dlgStart);
        SetNextBitmap(IDB_BTN_NEXT);
        m_nStep = 0;
    } else if (m_nStep == 2) {
        ShowPage(&m_dlgUninstall);
        SetNextBitmap(IDB_BTN_REMOVE);
        m_nStep = 1;
    }
}

void CUnInstallWizard::OnUninstallRunning(bool ended)
{
    m_bRunning = !ended;
    for (int id : {IDC_WIZARD_NEXT, IDC_WIZARD_BACK, IDCANCEL, IDC_WIZARD_CLOSE}) {
        HWND button = GetDlgItem(id);
        ::EnableWindow(button, ended);
        ::RedrawWindow(button, nullptr, nullptr, RDW_UPDATENOW | RDW_ERASE | RDW_INVALIDATE);
    }
}

BOOL CUnInstallWizard::OnCommand(WORD id, WORD code, HWND control)
{
    // While the removal runs nothing leaves or moves the wizard, not even
    // Escape or Alt+F4, which do not look at the disabled buttons.
    if (m_bRunning && (id == IDC_WIZARD_NEXT || id == IDC_WIZARD_BACK || id == IDCANCEL || id == IDC_WIZARD_CLOSE))
        return TRUE;
    switch (id) {
    case IDC_WIZARD_NEXT:
        OnNext();
        return TRUE;
    case IDC_WIZARD_BACK:
        OnBack();
        return TRUE;
    case IDCANCEL:
    case IDC_WIZARD_CLOSE:
        CloseProgram();
        return TRUE;
    default:
        return CDialog::OnCommand(id, code, control);
    }
}

BOOL CUnInstallWizard::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case UM_START_INSTALL:
        ::ShowWindow(m_hWnd, SW_SHOW);
        result = 0;
        return TRUE;
    case UM_UNINSTALL_DONE:
        ShowPage(&m_dlgEnd);
        SetNextBitmap(IDB_BTN_FINISH);
        m_nStep = 2;
        result = 0;
        return TRUE;
    case UM_UNINSTALL_RUNNING:
        OnUninstallRunning(wParam != 0);
        result = 0;
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(m_hWnd, &ps);
        Draw(dc);
        ::EndPaint(m_hWnd, &ps);
        result = 0;
        return TRUE;
    }
    default:
        // Dragging only by the band at the top.
        return skin::HandleFrameInput(m_hWnd, msg, lParam, kWidth, 38, result);
    }
}
