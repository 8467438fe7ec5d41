#include "sys/Dialog.h"

#include "base/Log.h"
#include "base/RunMode.h"

CDialog::~CDialog()
{
    if (m_hWnd && !m_bModal) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

INT_PTR CDialog::DoModal(HWND parent)
{
    m_bModal = true;
    if (IsQuietRun()) {
        // A quiet run asks nobody: a question nobody answers is no consent.
        WriteLog(1, "[CDialog::DoModal] quiet run: dialog %d not shown, taken as Cancel", m_nTemplateId);
        return IDCANCEL;
    }
    return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nTemplateId), parent,
                             &CDialog::StaticDialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(HWND parent)
{
    m_bModal = false;
    HWND wnd = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nTemplateId),
                                    parent, &CDialog::StaticDialogProc, reinterpret_cast<LPARAM>(this));
    return wnd != nullptr;
}

BOOL CDialog::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (!m_hWnd) return;
    if (m_bModal) ::EndDialog(m_hWnd, result);
    else ::DestroyWindow(m_hWnd);
}

void CDialog::CenterWindow(HWND over)
{
    RECT dlg, ref;
    ::GetWindowRect(m_hWnd, &dlg);
    if (over && ::IsWindowVisible(over)) ::GetWindowRect(over, &ref);
    else ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &ref, 0);
    int width = dlg.right - dlg.left, height = dlg.bottom - dlg.top;
    int x = ref.left + ((ref.right - ref.left) - width) / 2;
    int y = ref.top + ((ref.bottom - ref.top) - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CDialog::OnCommand(WORD id, WORD, HWND)
{
    if (id == IDOK) { OnOK(); return TRUE; }
    if (id == IDCANCEL) { OnCancel(); return TRUE; }
    return FALSE;
}

BOOL CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return FALSE;
}

INT_PTR CDialog::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        break;
    }
    LRESULT result = 0;
    if (!OnMessage(msg, wParam, lParam, result)) return FALSE;
    // These messages take their answer as the procedure's own result.
    if ((msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) || msg == WM_COMPAREITEM || msg == WM_VKEYTOITEM ||
        msg == WM_CHARTOITEM || msg == WM_QUERYDRAGICON)
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialog::StaticDialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = wnd;
        ::SetWindowLongPtrA(wnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(wnd, DWLP_USER));
    }
    if (!self) return FALSE;

    INT_PTR result = FALSE;
    try {
        result = self->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        // No exception crosses the dialog procedure.
        result = FALSE;
    }
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(wnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        if (!self->m_bModal) self->OnFinalMessage();
    }
    return result;
}
