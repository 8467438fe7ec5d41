#include "ui/InstallNotificationDlg.h"

#include "base/SystemLibrary.h"
#include "catalogue/UpdateInfoMgr.h"
#include "net/HttpUtil.h"
#include "net/StatSender.h"
#include "sys/BrowserSettings.h"
#include "sys/UserSettings.h"
#include "sys/Util.h"
#include "ui/SkinFrame.h"

#include "resource.h"

#include <richedit.h>

namespace {

const int kWidth = 438, kHeight = 331;
const int kTitleId = 1007;
const char kDotum[] = "\xB5\xB8\xBF\xF2";   // "돋움"

}  // namespace

CInstallNotificationDlg::CInstallNotificationDlg(HWND parent) : CDialog(IDD_INSTALL_NOTIFY), m_hParent(parent) {}

INT_PTR CInstallNotificationDlg::DoModal()
{
    // The two edit boxes are of the class "RichEdit20A", which this library
    // registers; kept until the program ends. When it is missing the dialog
    // cannot be made, as before.
    static const zelto::ScopedModule richEdit20(LoadSystemLibrary("RichEd20.dll"));
    return CDialog::DoModal(m_hParent);
}

void CInstallNotificationDlg::Append(int control, const char* text, int points, bool bold, COLORREF colour)
{
    HWND edit = GetDlgItem(control);
    CHARRANGE end = {-1, -1};
    ::SendMessageA(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    CHARRANGE start;
    ::SendMessageA(edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&start));
    ::SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    CHARRANGE after;
    ::SendMessageA(edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&after));
    CHARRANGE inserted = {start.cpMin, after.cpMax};
    ::SendMessageA(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&inserted));
    CHARFORMAT2A format = {};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_COLOR | CFM_BOLD | CFM_UNDERLINE;
    lstrcpynA(format.szFaceName, kDotum, LF_FACESIZE);
    format.yHeight = points * 20;
    format.crTextColor = colour;
    format.dwEffects = bold ? CFE_BOLD : 0;
    ::SendMessageA(edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    ::SendMessageA(edit, EM_HIDESELECTION, TRUE, 0);
}

BOOL CInstallNotificationDlg::OnInitDialog()
{
    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    const bool update = manager->GetUpdateMode() == 1;
    const int browserVersion = CUtil::Folders().nIEMajorVersion;

    // 1-2. The offers: the document can switch them off; the start-page one
    // is pointless when the portal already is the start page (and search).
    BYTE showStartPage = 1, showUpdateWindow = 1;
    CHttpUtil::GetInstallOption(&showStartPage, &showUpdateWindow);
    HWND startPage = GetDlgItem(IDC_CHECK_STARTPAGE), noShow = GetDlgItem(IDC_CHECK_NOSHOW);
    bool enabled = !(browser::IsStartPagePortal() && (browserVersion <= 6 || browser::IsPortalDefaultScope()));
    ::EnableWindow(startPage, enabled);
    ::SendMessageA(startPage, BM_SETCHECK, BST_CHECKED, 0);
    if (!enabled) showStartPage = 0;

    // 3. The two check boxes, from y 231 down.
    auto place = [&](HWND box, int y) { ::MoveWindow(box, 111, y, 304, 16, FALSE); };
    auto hide = [&](HWND box) { ::ShowWindow(box, SW_HIDE); };
    if (!showUpdateWindow) {
        hide(noShow);
        if (!showStartPage) { hide(startPage); ::SendMessageA(startPage, BM_SETCHECK, BST_UNCHECKED, 0); }
        else place(startPage, 231);
    } else if (!showStartPage) {
        place(noShow, 231);
        hide(startPage);
        ::SendMessageA(startPage, BM_SETCHECK, BST_UNCHECKED, 0);
    } else {
        place(startPage, 231);
        place(noShow, 249);
    }

    // 4-5. Layout and skins.
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER);
    ::MoveWindow(GetDlgItem(IDC_QUESTION), 111, 84, 304, 31, FALSE);
    ::MoveWindow(GetDlgItem(IDC_INFO), 111, 123, 304, 98, FALSE);
    ::MoveWindow(GetDlgItem(IDOK), 109, 274, 75, 33, FALSE);
    ::MoveWindow(GetDlgItem(IDCANCEL), 189, 274, 58, 33, FALSE);
    ::MoveWindow(GetDlgItem(IDC_NOTIFY_CLOSE), 418, 13, 9, 8, FALSE);
    m_btnInstall.Attach(GetDlgItem(IDOK));
    m_btnInstall.SetSkin(update ? IDB_BTN_UPDATE : IDB_BTN_INSTALL);
    m_btnCancel.Attach(GetDlgItem(IDCANCEL));
    m_btnCancel.SetSkin(IDB_BTN_CANCEL);
    m_btnClose.Attach(GetDlgItem(IDC_NOTIFY_CLOSE));
    m_btnClose.SetSkin(IDB_BTN_CLOSE);

    // 6-7. Painted elements and the window shape.
    skin::AddFrameElements(*this, IDB_BG_MAIN, kWidth, kHeight);
    AddBitmap(IDB_SIDE, {3, 34});
    AddBitmap(update ? IDB_TITLE_UPDATE : IDB_TITLE_INSTALL, {143, 10});
    LOGFONTA title;
    MakeFont(title, kDotum, 11, "b");
    AddText("설치모듈명", {111, 60}, title, RGB(35, 143, 2), kTitleId);
    skin::ShapeWindow(m_hWnd, kWidth, kHeight);
    m_brush.reset(::CreateSolidBrush(RGB(237, 237, 238)));

    // 8. The rich edits.
    for (int id : {IDC_QUESTION, IDC_INFO}) ::SendMessageA(GetDlgItem(id), EM_SETTARGETDEVICE, 0, 0);
    ::SendMessageA(GetDlgItem(IDC_INFO), EM_SETBKGNDCOLOR, 0, RGB(243, 243, 244));
    {
        // The question line sits on the window's own background.
        SIZE size;
        zelto::ScopedGdiObject background(LoadResBitmap(IDB_BG_MAIN, &size));
        zelto::ScopedMemoryDc memory(::CreateCompatibleDC(nullptr));
        zelto::ScopedSelectObject selected(memory.get(), background.get());
        ::SendMessageA(GetDlgItem(IDC_QUESTION), EM_SETBKGNDCOLOR, 0, ::GetPixel(memory.get(), 0, 100));
    }
    PARAFORMAT2 paragraph = {};
    paragraph.cbSize = sizeof(paragraph);
    paragraph.dwMask = PFM_STARTINDENT | PFM_RIGHTINDENT;
    paragraph.dxStartIndent = paragraph.dxRightIndent = 120;
    ::SendMessageA(GetDlgItem(IDC_INFO), EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    BYTE stored = 0;
    GetNoShowIfUpdate(&stored);
    ::SendMessageA(noShow, BM_SETCHECK, stored ? BST_CHECKED : BST_UNCHECKED, 0);

    // 9. One question and one information block per item.
    // Each item's question on a line of its own, its information apart
    // from the one before by a blank line.
    const COLORREF grey = RGB(79, 79, 79);
    bool first = true;
    for (const auto& item : manager->Items()) {
        if (!first) {
            Append(IDC_QUESTION, "\r\n", 9, false, RGB(0, 0, 0));
            Append(IDC_INFO, "\r\n", 8, false, grey);   // ends the description's line
            Append(IDC_INFO, "\r\n", 8, false, grey);   // the blank line between two items
        }
        first = false;
        SetText(kTitleId, item->m_strName.c_str());
        Append(IDC_QUESTION, "젤토에서 배포하는 ", 9, false, RGB(0, 0, 0));
        Append(IDC_QUESTION, item->m_strName.c_str(), 9, true, RGB(0, 0, 0));
        Append(IDC_QUESTION, " 프로그램을 설치하시겠습니까?", 9, false, RGB(0, 0, 0));
        Append(IDC_INFO, "\r\n", 6, true, grey);
        Append(IDC_INFO, "프로그램안내", 8, true, grey);
        Append(IDC_INFO, "\r\n", 8, false, grey);
        Append(IDC_INFO, "\r\n", 4, false, grey);
        if (browser::IsUntrustedPublisher(item->m_strPublisher.c_str())) {
            Append(IDC_INFO, item->m_strPublisher.c_str(), 8, false, grey);
            Append(IDC_INFO, "에서 배포한 소프트웨어를 설치하지 않음으로 설정되어 있습니다. 설치를 진행하시려면 아래 설치 "
                             "버튼을 클릭해 주십시오.", 8, false, grey);
            Append(IDC_INFO, "\r\n", 4, false, grey);
        }
        Append(IDC_INFO, item->m_strDescription.c_str(), 8, false, grey);
    }
    FitQuestion();
    return TRUE;
}

// The question box holds two lines; for more it grows into the information
// box's room, and where even that is too little it scrolls (and is enabled,
// so that it can be scrolled): every item's name can be read.
void CInstallNotificationDlg::FitQuestion()
{
    HWND question = GetDlgItem(IDC_QUESTION), info = GetDlgItem(IDC_INFO);
    const int lines = static_cast<int>(::SendMessageA(question, EM_GETLINECOUNT, 0, 0));
    if (lines <= 2) return;
    POINTL top = {}, next = {};
    ::SendMessageA(question, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&top), ::SendMessageA(question, EM_LINEINDEX, 0, 0));
    ::SendMessageA(question, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&next), ::SendMessageA(question, EM_LINEINDEX, 1, 0));
    const int lineHeight = next.y > top.y ? static_cast<int>(next.y - top.y) : 15;
    const int kTop = 84, kInfoBottom = 221, kGap = 8, kLeastInfo = 46;
    int height = lines * lineHeight + 1;
    const int most = kInfoBottom - kLeastInfo - kGap - kTop;
    if (height > most) {
        height = most;
        ::EnableWindow(question, TRUE);
    }
    ::MoveWindow(question, 111, kTop, 304, height, FALSE);
    ::MoveWindow(info, 111, kTop + height + kGap, 304, kInfoBottom - (kTop + height + kGap), FALSE);
}

void CInstallNotificationDlg::OnInstall()
{
    HWND startPage = GetDlgItem(IDC_CHECK_STARTPAGE);
    const bool startChecked = ::SendMessageA(startPage, BM_GETCHECK, 0, 0) == BST_CHECKED;
    const bool noShow = ::SendMessageA(GetDlgItem(IDC_CHECK_NOSHOW), BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (::IsWindowEnabled(startPage) && startChecked) {
        if (!browser::IsStartPagePortal()) {
            CStatSender::SendBeforeStartPage();
            browser::SetStartPagePortal();
            CStatSender::SendStartPageCount();
        }
        if (CUtil::Folders().nIEMajorVersion >= 7 && !browser::IsPortalDefaultScope()) {
            browser::SetPortalDefaultScope();
            CStatSender::SendSearchEngineCount();
        }
    }
    SetNoShowIfUpdate(noShow ? 1 : 0);
    EndDialog(IDOK);
}

BOOL CInstallNotificationDlg::OnCommand(WORD id, WORD code, HWND control)
{
    if (id == IDOK) { OnInstall(); return TRUE; }
    if (id == IDC_NOTIFY_CLOSE) { EndDialog(IDCANCEL); return TRUE; }
    if (id == IDC_CHECK_STARTPAGE) return TRUE;
    return CDialog::OnCommand(id, code, control);
}

BOOL CInstallNotificationDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(m_hWnd, &ps);
        Draw(dc);
        // A one-pixel white frame around the information box.
        zelto::ScopedGdiObject pen(::CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
        zelto::ScopedSelectObject selected(dc, pen.get());
        POINT frame[] = {{110, 122}, {415, 122}, {415, 221}, {110, 221}, {110, 122}};
        ::Polyline(dc, frame, 5);
        ::EndPaint(m_hWnd, &ps);
        result = 0;
        return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
        ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        result = reinterpret_cast<LRESULT>(m_brush.get());
        return TRUE;
    }
    default:
        return skin::HandleFrameInput(m_hWnd, msg, lParam, kWidth, kHeight, result);
    }
}
