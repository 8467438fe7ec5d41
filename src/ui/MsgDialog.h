// The two skinned message dialogs: CMsgDialog asks whether the browser may be
// closed (OK / Cancel / close), CMsgDialogConfirm shows one centred notice.
#pragma once

#include "sys/Dialog.h"
#include "ui/KWB_UI_Drawer.h"
#include "ui/SkinButton.h"

#include <string>

constexpr int MSG_MODE_INSTALL = 1;   // any other mode: removal

class CMsgDialog : public CDialog, public CKWB_UI_Drawer {
public:
    // The window to disable (may be null) stays disabled while the dialog is up.
    CMsgDialog(HWND disableWnd, int mode, int browserMajorVersion, HWND parent = nullptr);
    INT_PTR DoModal() { return CDialog::DoModal(m_hParent); }

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    void OnDestroy() override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    HWND m_hDisableWnd;
    int m_nMode;
    int m_nIEVersion;
    HWND m_hParent;
    CxSkinButton m_btnOk, m_btnCancel, m_btnClose;
};

// The wait while the catalogue is fetched, modeless: its cancel button and
// its close button set cancelEvent (once; the button then goes disabled).
class CMsgDialogWait : public CDialog, public CKWB_UI_Drawer {
public:
    explicit CMsgDialogWait(HANDLE cancelEvent);

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    void OnCancel() override;   // Escape
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    HANDLE m_hCancel;
    std::string m_strMessage;
    CxSkinButton m_btnCancel, m_btnClose;
};

class CMsgDialogConfirm : public CDialog, public CKWB_UI_Drawer {
public:
    explicit CMsgDialogConfirm(const char* message, HWND parent = nullptr);
    INT_PTR DoModal() { return CDialog::DoModal(m_hParent); }

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    std::string m_strMessage;
    HWND m_hParent;
    CxSkinButton m_btnOk, m_btnClose;
};
