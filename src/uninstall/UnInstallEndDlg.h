// The wizard's last page: the removal is complete.
#pragma once

#include "uninstall/InvPage.h"

class CUnInstallEndDlg : public CWizardPage {
public:
    CUnInstallEndDlg();
    BOOL CanGoBack() override { return FALSE; }
    BOOL CanGoNext() override { return TRUE; }
    BOOL CanCancel() override { return FALSE; }

protected:
    BOOL OnInitDialog() override;
};
