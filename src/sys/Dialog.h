// A dialog from a template with virtual message handling, modal (ends with
// EndDialog) or modeless (ends by destroying its window).
#pragma once

#include <windows.h>

class CDialog {
public:
    explicit CDialog(UINT templateId) : m_nTemplateId(templateId) {}
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    INT_PTR DoModal(HWND parent);
    BOOL Create(HWND parent);   // modeless
    BOOL DestroyWindow();
    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void CenterWindow(HWND over);

protected:
    // Ends the dialog: EndDialog when modal, DestroyWindow when modeless.
    void EndDialog(INT_PTR result);

    virtual BOOL OnInitDialog() { return TRUE; }
    virtual BOOL OnCommand(WORD id, WORD code, HWND control);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnDestroy() {}
    // Every other message: return TRUE when handled and set result.
    virtual BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Called after a modeless dialog's window is gone.
    virtual void OnFinalMessage() {}

    HWND m_hWnd = nullptr;
    UINT m_nTemplateId;
    bool m_bModal = false;

private:
    INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK StaticDialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
};
