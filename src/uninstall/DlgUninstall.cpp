#include "uninstall/DlgUninstall.h"

#include "base/Messages.h"
#include "base/RunOutcome.h"
#include "base/Strings.h"
#include "sys/Util.h"
#include "ui/MsgDialog.h"
#include "uninstall/ItemRecords.h"
#include "uninstall/UninstallProcedure.h"

#include "resource.h"

#include <commctrl.h>

#include <algorithm>

namespace {

DWORD WINAPI UninstallThread(LPVOID param)
{
    zelto::ScopedOleInit ole;   // a control's own unregistration may need it
    return RunUninstall(*static_cast<UninstallRequest*>(param));
}

}  // namespace

CDlgUninstall::CDlgUninstall() : CWizardPage(IDD_UNINSTALL_LIST) {}

BOOL CDlgUninstall::OnInitDialog()
{
    PlaceInWizard();
    const LOGFONTA text = PageFont(9, false);
    AddText("PC에서 젤토 옴브릭스 및 구성요소를 제거", {0, 5}, text, RGB(0, 0, 0));
    AddText("하려고 합니다. 제거를 원하는 프로그램을 선택하시고,", {0, 22}, text, RGB(0, 0, 0));
    AddText("'제거' 버튼을 누르시면 제거가 시작됩니다.", {0, 39}, text, RGB(0, 0, 0));

    m_hList = GetDlgItem(IDC_ITEM_LIST);
    ::MoveWindow(m_hList, 1, 65, 296, 120, FALSE);
    const COLORREF back = RGB(243, 243, 244);
    ListView_SetBkColor(m_hList, back);
    ListView_SetTextBkColor(m_hList, back);
    ListView_SetTextColor(m_hList, RGB(79, 79, 79));
    m_listFont.reset(::CreateFontIndirectA(&text));
    ::SendMessageA(m_hList, WM_SETFONT, reinterpret_cast<WPARAM>(m_listFont.get()), FALSE);

    // A missing library or entry point only skips the cache removals.
    m_cache = std::make_unique<CControlCache>();

    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    CUtil::InitSystemFolders();

    ListView_SetExtendedListViewStyle(m_hList, LVS_EX_CHECKBOXES | LVS_EX_JUSTIFYCOLUMNS);
    RECT client;
    ::GetClientRect(m_hList, &client);
    std::string header = LoadResString(IDS_INSTALLED_CONTROLS);
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = &header[0];
    column.cx = static_cast<int>((client.right - client.left) * 0.93);
    ::SendMessageA(m_hList, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    return TRUE;
}

void CDlgUninstall::InsertRow(const std::string& name)
{
    LVITEMA row = {};
    row.mask = LVIF_TEXT;
    row.iItem = ListView_GetItemCount(m_hList);
    row.pszText = const_cast<char*>(name.c_str());
    int index = static_cast<int>(::SendMessageA(m_hList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
    if (index >= 0) ListView_SetCheckState(m_hList, index, FALSE);
}

void CDlgUninstall::Activate(BOOL shown)
{
    if (!shown) {
        CWizardPage::Activate(FALSE);
        return;
    }
    // Read once: going back and forward again keeps the ticks.
    if (ListView_GetItemCount(m_hList) == 0) {
        std::vector<std::string> names;
        if (!ListRecordedItems(names)) {
            ::ShowWindow(m_hWnd, SW_HIDE);   // the program closes without the list
            SetRunExitCode(EXIT_RUN_DONE);   // nothing is left to remove
            CloseProgram();
            return;
        }
        for (const std::string& name : names) InsertRow(name);
    }
    CWizardPage::Activate(TRUE);
}

std::string CDlgUninstall::RowText(int row) const
{
    char name[MAX_PATH] = "";
    ListView_GetItemText(m_hList, row, 0, name, sizeof(name));
    return name;
}

std::vector<std::string> CDlgUninstall::TickedItems() const
{
    std::vector<std::string> items;
    const int count = ListView_GetItemCount(m_hList);
    for (int i = 0; i < count; ++i) {
        if (ListView_GetCheckState(m_hList, i)) items.push_back(RowText(i));
    }
    return items;
}

DWORD CDlgUninstall::RunWorker(UninstallRequest& request)
{
    DWORD threadId = 0;
    zelto::ScopedKernelHandle thread(::CreateThread(nullptr, 0, &UninstallThread, &request, 0, &threadId));
    if (!thread) return 0;
    HANDLE handle = thread.get();
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        MSG msg;
        while (!quit && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                break;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        // After a quit message nothing is dispatched any more, but messages
        // other threads send (the worker's dialogs disable the main window)
        // are still answered, so the worker can finish with its request.
        DWORD wait = ::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, quit ? QS_SENDMESSAGE : QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) break;
        if (quit) ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    DWORD code = 0;
    ::GetExitCodeThread(handle, &code);
    // The program still ends as it was asked to.
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return code;
}

void CDlgUninstall::DropRemovedRows()
{
    std::vector<std::string> recorded;
    if (!ListRecordedItems(recorded)) return;
    for (int i = ListView_GetItemCount(m_hList) - 1; i >= 0; --i) {
        if (std::find(recorded.begin(), recorded.end(), RowText(i)) == recorded.end()) ListView_DeleteItem(m_hList, i);
    }
}

BOOL CDlgUninstall::OnRemove()
{
    const std::vector<std::string> ticked = TickedItems();
    if (ticked.empty()) {
        CMsgDialogConfirm notice(LoadResString(IDS_SELECT_ONE).c_str());
        notice.DoModal();
        return FALSE;
    }
    UninstallRequest request;
    request.removeControl = m_cache ? m_cache->RemoveControlByName() : nullptr;
    request.mainWnd = m_hMainWnd;
    request.allSelected = static_cast<int>(ticked.size()) == ListView_GetItemCount(m_hList) ? 1 : 0;
    request.items = ticked;

    if (m_hMainWnd) ::SendMessageA(m_hMainWnd, UM_UNINSTALL_RUNNING, 0, 0);
    const DWORD code = RunWorker(request);
    if (m_hMainWnd && ::IsWindow(m_hMainWnd)) ::SendMessageA(m_hMainWnd, UM_UNINSTALL_RUNNING, 1, 0);
    SetRunExitCode(code == 1 ? EXIT_RUN_DONE : EXIT_RUN_FAILED);
    if (code != 1) {
        // Stays on the list page, which shows what is still installed.
        DropRemovedRows();
        return FALSE;
    }
    if (m_hMainWnd) ::PostMessageA(m_hMainWnd, UM_UNINSTALL_DONE, 0, 0);
    ::ShowWindow(m_hWnd, SW_HIDE);
    return TRUE;
}

void CDlgUninstall::OnCancel()
{
    CloseProgram();
    ::ShowWindow(m_hWnd, SW_HIDE);
}

BOOL CDlgUninstall::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_ITEM_LIST && header->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            // Selecting a row (a click on its text) toggles its tick. The
            // list may report the check-box image along with the state;
            // a change of the image itself (the tick) is not a selection.
            const UINT image = LVIS_STATEIMAGEMASK;
            if (change->uChanged == LVIF_STATE && (change->uNewState & ~image) == (LVIS_SELECTED | LVIS_FOCUSED) &&
                (change->uNewState & image) == (change->uOldState & image)) {
                ListView_SetCheckState(m_hList, change->iItem, !ListView_GetCheckState(m_hList, change->iItem));
                result = TRUE;
                return TRUE;
            }
        }
        return FALSE;
    }
    return CWizardPage::OnMessage(msg, wParam, lParam, result);
}

void CDlgUninstall::PaintExtra(HDC dc)
{
    zelto::ScopedGdiObject pen(::CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
    zelto::ScopedSelectObject selected(dc, pen.get());
    POINT frame[] = {{0, 64}, {297, 64}, {297, 185}, {0, 185}, {0, 64}};
    ::Polyline(dc, frame, 5);
}
