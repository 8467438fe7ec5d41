#include "uninstall/UnInstallEndDlg.h"

#include "resource.h"

CUnInstallEndDlg::CUnInstallEndDlg() : CWizardPage(IDD_UNINSTALL_END) {}

BOOL CUnInstallEndDlg::OnInitDialog()
{
    PlaceInWizard();
    AddText("제거 완료", {0, 5}, PageFont(11, true), RGB(25, 143, 2));
    AddText("구성요소 제거가 완료 되었습니다", {0, 34}, PageFont(9, false), RGB(0, 0, 0));
    return TRUE;
}
