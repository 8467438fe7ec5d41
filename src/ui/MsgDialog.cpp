#include "ui/MsgDialog.h"

#include "base/Strings.h"
#include "ui/SkinFrame.h"

#include "resource.h"

namespace {

const int kWidth = 412, kHeight = 160;
const char kDotum[] = "\xB5\xB8\xBF\xF2";   // "돋움"

void PlaceButton(CxSkinButton& button, HWND dialog, int id, int x, int y, int w, int h, UINT skin)
{
    HWND wnd = ::GetDlgItem(dialog, id);
    ::MoveWindow(wnd, x, y, w, h, FALSE);
    button.Attach(wnd);
    button.SetSkin(skin, 1, FALSE, 0);
}

// Paint and drag handling both dialogs share.
BOOL HandleFrameMessage(HWND wnd, const CKWB_UI_Drawer& drawer, UINT msg, LPARAM lParam, LRESULT& result)
{
    if (msg != WM_PAINT) return skin::HandleFrameInput(wnd, msg, lParam, kWidth, kHeight, result);
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(wnd, &ps);
    drawer.Draw(dc);
    ::EndPaint(wnd, &ps);
    result = 0;
    return TRUE;
}

}  // namespace

CMsgDialog::CMsgDialog(HWND disableWnd, int mode, int browserMajorVersion, HWND parent)
    : CDialog(IDD_MSG_DIALOG), m_hDisableWnd(disableWnd), m_nMode(mode), m_nIEVersion(browserMajorVersion),
      m_hParent(parent)
{
}

BOOL CMsgDialog::OnInitDialog()
{
    if (m_hDisableWnd) ::EnableWindow(m_hDisableWnd, FALSE);
    PlaceButton(m_btnOk, m_hWnd, IDOK, 138, 103, 63, 33, IDB_BTN_OK);
    PlaceButton(m_btnCancel, m_hWnd, IDCANCEL, 206, 103, 58, 33, IDB_BTN_CANCEL);
    PlaceButton(m_btnClose, m_hWnd, IDC_CLOSE, 391, 13, 9, 8, IDB_BTN_CLOSE);
    skin::AddFrameElements(*this, IDB_BG_MSG, kWidth, kHeight);
    skin::ShapeWindow(m_hWnd, kWidth, kHeight);

    LOGFONTA regular, bold;
    MakeFont(regular, kDotum, 9, "");
    MakeFont(bold, kDotum, 9, "BOLD");
    const bool install = m_nMode == MSG_MODE_INSTALL;
    const char* action = install ? "\xBC\xB3\xC4\xA1" : "\xC1\xA6\xB0\xC5";   // "설치" : "제거"
    if (install) AddBitmap(IDB_TITLE_INSTALL, {143, 10});

    const COLORREF black = RGB(0, 0, 0);
    char line[256];
    if (m_nIEVersion >= 8) {
        AddText("이용 중인 ", {31, 56}, regular, black);
        AddText("인터넷 익스플로러를 모두 종료시키셔야 합니다.", {87, 56}, bold, black);
        AddText("익스플로러를 모두 종료시킨 후, '확인'버튼을 눌러주십시요.", {31, 72}, regular, black);
    } else {
        wsprintfA(line, "%s를 시작하기 전에", action);
        AddText(line, {31, 56}, regular, black);
        AddText("이용 중인 인터넷 브라우저가 닫힙니다.", {150, 56}, bold, black);
        wsprintfA(line, "'확인'을 누르면 %s, '취소'를 누르면 취소됩니다.", action);
        AddText(line, {31, 72}, regular, black);
    }
    return TRUE;
}

BOOL CMsgDialog::OnCommand(WORD id, WORD code, HWND control)
{
    if (id == IDC_CLOSE) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    return CDialog::OnCommand(id, code, control);
}

void CMsgDialog::OnDestroy()
{
    if (m_hDisableWnd) ::EnableWindow(m_hDisableWnd, TRUE);
}

BOOL CMsgDialog::OnMessage(UINT msg, WPARAM, LPARAM lParam, LRESULT& result)
{
    return HandleFrameMessage(m_hWnd, *this, msg, lParam, result);
}

CMsgDialogConfirm::CMsgDialogConfirm(const char* message, HWND parent)
    : CDialog(IDD_MSG_CONFIRM), m_strMessage(message ? message : ""), m_hParent(parent)
{
}

BOOL CMsgDialogConfirm::OnInitDialog()
{
    PlaceButton(m_btnOk, m_hWnd, IDOK, 175, 103, 63, 33, IDB_BTN_OK);
    PlaceButton(m_btnClose, m_hWnd, IDC_CLOSE, 391, 13, 9, 8, IDB_BTN_CLOSE);
    skin::AddFrameElements(*this, IDB_BG_MSG, kWidth, kHeight);
    skin::ShapeWindow(m_hWnd, kWidth, kHeight);
    return TRUE;
}

BOOL CMsgDialogConfirm::OnCommand(WORD id, WORD code, HWND control)
{
    if (id == IDC_CLOSE) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    return CDialog::OnCommand(id, code, control);
}

namespace {

// The frame and a message centred in the band from y 70 to y 170.
void PaintMessage(HWND wnd, const CKWB_UI_Drawer& drawer, const std::string& message)
{
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(wnd, &ps);
    drawer.Draw(dc);
    LOGFONTA regular;
    MakeFont(regular, kDotum, 9, "");
    zelto::ScopedGdiObject font(::CreateFontIndirectA(&regular));
    zelto::ScopedSelectObject selected(dc, font.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(0, 0, 0));
    RECT client;
    ::GetClientRect(wnd, &client);
    RECT band = {0, 70, client.right, 170};
    ::DrawTextA(dc, message.c_str(), -1, &band, DT_CENTER | DT_VCENTER | (message.find('\n') == std::string::npos ? DT_SINGLELINE : 0));
    ::EndPaint(wnd, &ps);
}

}  // namespace

BOOL CMsgDialogConfirm::OnMessage(UINT msg, WPARAM, LPARAM lParam, LRESULT& result)
{
    if (msg != WM_PAINT) return HandleFrameMessage(m_hWnd, *this, msg, lParam, result);
    PaintMessage(m_hWnd, *this, m_strMessage);
    result = 0;
    return TRUE;
}

CMsgDialogWait::CMsgDialogWait(HANDLE cancelEvent)
    : CDialog(IDD_MSG_WAIT), m_hCancel(cancelEvent), m_strMessage(LoadResString(IDS_CATALOGUE_WAIT))
{
}

BOOL CMsgDialogWait::OnInitDialog()
{
    PlaceButton(m_btnCancel, m_hWnd, IDC_WAIT_CANCEL, 175, 103, 58, 33, IDB_BTN_CANCEL);
    PlaceButton(m_btnClose, m_hWnd, IDC_CLOSE, 391, 13, 9, 8, IDB_BTN_CLOSE);
    skin::AddFrameElements(*this, IDB_BG_MSG, kWidth, kHeight);
    skin::ShapeWindow(m_hWnd, kWidth, kHeight);
    return TRUE;
}

BOOL CMsgDialogWait::OnCommand(WORD id, WORD code, HWND control)
{
    if (id == IDC_WAIT_CANCEL || id == IDC_CLOSE) {
        OnCancel();
        return TRUE;
    }
    return CDialog::OnCommand(id, code, control);
}

void CMsgDialogWait::OnCancel()
{
    // The fetch stops within a moment; the window goes when it has.
    if (m_hCancel) ::SetEvent(m_hCancel);
    ::EnableWindow(GetDlgItem(IDC_WAIT_CANCEL), FALSE);
}

BOOL CMsgDialogWait::OnMessage(UINT msg, WPARAM, LPARAM lParam, LRESULT& result)
{
    if (msg != WM_PAINT) return HandleFrameMessage(m_hWnd, *this, msg, lParam, result);
    PaintMessage(m_hWnd, *this, m_strMessage);
    result = 0;
    return TRUE;
}
