#include "uninstall/UnInstallStartDlg.h"

#include "resource.h"

CUnInstallStartDlg::CUnInstallStartDlg() : CWizardPage(IDD_UNINSTALL_START) {}

BOOL CUnInstallStartDlg::OnInitDialog()
{
    PlaceInWizard();
    const LOGFONTA title = PageFont(11, true), text = PageFont(9, false), bold = PageFont(9, true);
    AddText("젤토 ActiveX 제거를 시작", {0, 5}, title, RGB(25, 143, 2));
    AddText("당신의 컴퓨터에서 젤토 ActiveX를", {0, 29}, text, RGB(0, 0, 0));
    AddText("제거", {204, 29}, bold, RGB(0, 0, 0));
    AddText("할 것입니다.", {230, 29}, text, RGB(0, 0, 0));
    AddText("제거를 시작하기 전에 이용 중인 인터넷 브라우저", {0, 49}, text, RGB(0, 0, 0));
    AddText("를 닫아주시기 바랍니다.", {0, 69}, text, RGB(0, 0, 0));
    AddText("계속하시려면 '다음'버튼을 눌러 주세요.", {0, 105}, text, RGB(0, 0, 0));
    return TRUE;
}
