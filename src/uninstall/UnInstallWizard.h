// The uninstall wizard: a skinned, borderless window that hosts the start,
// list and end pages in one content area and moves between them with the
// back and next buttons. Every way out posts WM_CLOSE to the main window.
#pragma once

#include "sys/Dialog.h"
#include "ui/KWB_UI_Drawer.h"
#include "ui/SkinButton.h"
#include "uninstall/DlgUninstall.h"
#include "uninstall/UnInstallEndDlg.h"
#include "uninstall/UnInstallStartDlg.h"

class CUnInstallWizard : public CDialog, public CKWB_UI_Drawer {
public:
    CUnInstallWizard();
    // Modeless, owned by the main window; shown by UM_START_INSTALL.
    BOOL Create(HWND mainWnd);

    int Step() const { return m_nStep; }
    CWizardPage* CurrentPage() const { return m_pCurrentPage; }
    CDlgUninstall& ListPage() { return m_dlgUninstall; }

    static const int kWidth = 438, kHeight = 331;

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void ShowPage(CWizardPage* page);
    void OnNext();
    void OnBack();
    void SetNextBitmap(UINT bitmapId);
    void OnUninstallRunning(bool ended);
    void CloseProgram() const;

    CxSkinButton m_btnNext, m_btnCancel, m_btnBack, m_btnClose;
    CUnInstallStartDlg m_dlgStart;
    CDlgUninstall m_dlgUninstall;
    CUnInstallEndDlg m_dlgEnd;
    int m_nStep = 0;
    CWizardPage* m_pCurrentPage = nullptr;
    CWizardPage* m_pPreviousPage = nullptr;
    HWND m_hMainWnd = nullptr;
    bool m_bRunning = false;   // the removal runs: every button is inert
};
