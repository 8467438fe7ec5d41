// The wizard's first page: what the removal will do and that the browser
// should be closed first.
#pragma once

#include "uninstall/InvPage.h"

class CUnInstallStartDlg : public CWizardPage {
public:
    CUnInstallStartDlg();
    BOOL CanGoBack() override { return FALSE; }
    BOOL CanGoNext() override { return TRUE; }
    BOOL CanCancel() override { return TRUE; }

protected:
    BOOL OnInitDialog() override;
};
