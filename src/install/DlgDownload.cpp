#include "install/DlgDownload.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "base/MainWindow.h"
#include "base/Messages.h"
#include "base/RunMode.h"
#include "base/Strings.h"
#include "catalogue/UpdateInfoMgr.h"
#include "install/DownloadWorker.h"
#include "install/Staging.h"
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"
#include "sys/UserSettings.h"
#include "sys/Util.h"
#include "ui/SkinFrame.h"

#include "resource.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

namespace {

const int kWidth = 412, kHeight = 160;
const int kLabelId = 1;
const char kGulim[] = "\xB1\xBC\xB8\xB2";   // "굴림"
const char kDotum[] = "\xB5\xB8\xBF\xF2";   // "돋움"

DWORD WINAPI WorkerThread(LPVOID param)
{
    auto* dialog = static_cast<CDlgDownload*>(param);
    BOOL done = FALSE;
    try {
        done = dialog->DownloadInstallFiles();
    } catch (...) {
        RecordLastError(ERR_LOCAL_FILE, 0);
        WriteLog(1, "[DownloadInstallFiles] the download worker stopped on an exception");
        ::PostMessageA(dialog->GetSafeHwnd(), UM_DOWNLOAD_COMPLETE, CDlgDownload::kWorkerBroke, 0);
    }
    // The window's thread takes it once the worker has ended (WaitForWorker).
    dialog->m_workerError = LastError;
    return done;
}

// "%s %s 중…" with the item's name (its first 35 bytes and "..." beyond 38).
std::string ItemLabel(const std::string& name, bool update)
{
    std::string shown = name;
    if (shown.size() > 38) {
        size_t cut = 0;
        while (cut < 35) cut += (::IsDBCSLeadByteEx(949, static_cast<BYTE>(shown[cut])) && cut + 1 < 35) ? 2 : 1;
        shown = shown.substr(0, std::min<size_t>(cut, 35)) + "...";
    }
    return shown + " " + (update ? "업데이트" : "설치") + " 중…";
}

}  // namespace

ByteCounterText FormatByteCounter(int position, int total)
{
    const bool kb = total > 1023;
    const char* unit = kb ? "KB" : "Bytes";
    char middle[32], last[48];
    wsprintfA(middle, "%d%s", kb ? position / 1024 : position, unit);
    wsprintfA(last, " / %d%s )", kb ? total / 1024 : total, unit);
    return {"( ", middle, last};
}

CDlgDownload::CDlgDownload() : CDialog(IDD_DOWNLOAD) {}

bool CDlgDownload::Cancelled() const
{
    return m_hCancelEvent && ::WaitForSingleObject(m_hCancelEvent.get(), 0) == WAIT_OBJECT_0;
}

bool CDlgDownload::ShouldShowProgress() const
{
    BYTE noShow = 0;
    GetNoShowIfUpdate(&noShow);
    return !IsQuietRun() && CUpdateInfoMgr::GetInstance()->GetShowDlg() != 0 && noShow != 1;
}

BOOL CDlgDownload::OnInitDialog()
{
    m_hCancelEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG,
                   reinterpret_cast<LPARAM>(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN))));
    LOGFONTA font;
    MakeFont(font, kGulim, 9, "");
    m_fontGulim.reset(::CreateFontIndirectA(&font));
    MakeFont(font, kDotum, 9, "");
    m_fontDotum.reset(::CreateFontIndirectA(&font));

    skin::ShapeWindow(m_hWnd, kWidth, kHeight);
    HWND close = GetDlgItem(IDCANCEL);
    ::MoveWindow(close, 391, 13, 9, 8, FALSE);
    m_btnClose.Attach(close);
    m_btnClose.SetSkin(IDB_BTN_CLOSE, 1, FALSE, 0);
    ::MoveWindow(GetDlgItem(IDC_PROGRESS), 52, 88, 310, 17, FALSE);
    skin::AddFrameElements(*this, IDB_BG_MSG, kWidth, kHeight);

    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    LOGFONTA bold;
    MakeFont(bold, kDotum, 9, "b");
    for (const auto& item : manager->Items()) {
        std::string label = ItemLabel(item->m_strName, manager->GetUpdateMode() == 1);
        if (!SetText(kLabelId, label.c_str())) AddText(label.c_str(), {52, 66}, bold, RGB(25, 143, 2), kLabelId);
    }
    return TRUE;
}

BOOL CDlgDownload::OnCommand(WORD id, WORD code, HWND control)
{
    if (id == IDCANCEL) {
        // The run goes on, hidden, until the worker notices the event.
        if (m_hCancelEvent) ::SetEvent(m_hCancelEvent.get());
        ::ShowWindow(m_hWnd, SW_HIDE);
        return TRUE;
    }
    if (id == IDOK) return TRUE;   // Enter does not end the progress window
    return CDialog::OnCommand(id, code, control);
}

void CDlgDownload::OnDestroy()
{
    m_pSkinProgress.reset();
    m_hCancelEvent.reset();
    CUpdateInfoMgr::GetInstance()->PostDialogClosed();
}

BOOL CDlgDownload::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (msg) {
    case UM_START_INSTALL: {
        if (m_bRunning) return TRUE;
        m_bRunning = true;
        m_nFiles = 0;
        for (const auto& item : CUpdateInfoMgr::GetInstance()->Items())
            m_nFiles += static_cast<int>(item->m_arrUpdateFile.size());
        DWORD id = 0;
        m_hWorker.reset(::CreateThread(nullptr, 0, &WorkerThread, this, 0, &id));
        if (!m_hWorker) {
            DWORD error = ::GetLastError();
            WriteLog(1, "[OnStartInstall] CreateThread Failed, Error Code = %d", error);
            ShowMessage(IDS_INSTALL_FAILED, LastErrorSuffix());
            AbortRun();
        }
        return TRUE;
    }
    case UM_DOWNLOAD_PROGRESS:
        result = OnDownloadProgress(wParam, lParam);
        return TRUE;
    case UM_FILE_DOWNLOADED:
        OnFileDownloaded();
        return TRUE;
    case UM_EXTRACT_PROGRESS:
        result = OnExtractProgress(wParam);
        return TRUE;
    case UM_DOWNLOAD_COMPLETE:
        OnDownloadComplete(static_cast<BOOL>(wParam));
        return TRUE;
    case UM_SETUP_COMPLETE:
        OnSetupComplete();
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(m_hWnd, &ps);
        Paint(dc);
        ::EndPaint(m_hWnd, &ps);
        return TRUE;
    }
    default:
        return skin::HandleFrameInput(m_hWnd, msg, lParam, kWidth, kHeight, result);
    }
}

BOOL CDlgDownload::DownloadInstallFiles()
{
    if (!CUtil::PrepareStagingFolder()) {
        ::PostMessageA(m_hWnd, UM_DOWNLOAD_COMPLETE, TRUE, 0);
        return FALSE;
    }
    auto& items = CUpdateInfoMgr::GetInstance()->Items();
    DWORD total = 0;
    {
        zelto::ScopedInternet internet =
            zelto::OpenInternetLogged("[DownloadInstallFiles] InternetOpen Failed, Error Code = %d");
        if (!internet) {
            ::PostMessageA(m_hWnd, UM_DOWNLOAD_COMPLETE, TRUE, 0);
            return FALSE;
        }
        total = PrepareDownloadSizes(items, internet.get());
    }
    ::SendMessageA(m_hWnd, UM_DOWNLOAD_PROGRESS, DOWNLOAD_PROGRESS_TOTAL, static_cast<LPARAM>(total));

    const BOOL failed = !DownloadAllFiles(items, m_hWnd, m_hCancelEvent.get());
    ::PostMessageA(m_hWnd, UM_DOWNLOAD_COMPLETE, failed, 0);
    return !failed;
}

LRESULT CDlgDownload::OnDownloadProgress(WPARAM wParam, LPARAM lParam)
{
    if (wParam == DOWNLOAD_PROGRESS_TOTAL) {
        if (lParam <= 0) return 0;
        if (ShouldShowProgress()) {
            ::ShowWindow(GetMainFrameWindow(), SW_SHOW);
            ::ShowWindow(m_hWnd, SW_SHOW);
        }
        HWND control = GetDlgItem(IDC_PROGRESS);
        ::SendMessageA(control, PBM_SETRANGE32, 0, lParam);
        m_pSkinProgress = std::make_unique<CSkinProgress>();
        m_pSkinProgress->Create(control, static_cast<int>(lParam), IDB_PROGRESS, FALSE);
        // Behind the skin's transparent corners: the window's own background.
        SIZE size;
        zelto::ScopedGdiObject background(LoadResBitmap(IDB_BG_MSG, &size));
        zelto::ScopedMemoryDc memory(::CreateCompatibleDC(nullptr));
        zelto::ScopedSelectObject selected(memory.get(), background.get());
        m_pSkinProgress->SetBackground(::GetPixel(memory.get(), 0, 96));
        m_nTotal = static_cast<int>(lParam);
    } else if (wParam == DOWNLOAD_PROGRESS_URL) {
        m_strCaption = LoadResString(IDS_DOWNLOADING);
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
    } else if (wParam == DOWNLOAD_PROGRESS_CHUNK) {
        int position = (m_pSkinProgress ? m_pSkinProgress->GetPos() : m_nPosition) + static_cast<int>(lParam);
        if (m_pSkinProgress) m_pSkinProgress->SetPos(position, TRUE);
        m_nPosition = position;
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    return 0;
}

void CDlgDownload::OnFileDownloaded()
{
    // Of the bytes when the server told the sizes, else of the files; 100
    // only once everything is there (OnDownloadComplete).
    ++m_nFilesDone;
    int percent = 0;
    if (m_nTotal > 0) percent = static_cast<int>(static_cast<double>(m_nPosition) / m_nTotal * 100.0 + 0.5);
    else if (m_nFiles > 0) percent = m_nFilesDone * 100 / m_nFiles;
    PostPercent(std::min(percent, 99));
}

void CDlgDownload::PostPercent(int percent)
{
    // Status 30 never goes back within a run.
    percent = std::max(0, std::min(percent, 100));
    if (percent < m_nLastPercent) percent = m_nLastPercent;
    m_nLastPercent = percent;
    CUpdateInfoMgr::GetInstance()->PostStatus(STATUS_DOWNLOAD_PERCENT, percent);
}

void CDlgDownload::RequestClose()
{
    WriteLog(1, "[CDlgDownload] the main window was asked to close; the run stops");
    m_bCloseRequested = true;
    if (m_hCancelEvent) ::SetEvent(m_hCancelEvent.get());
    ::ShowWindow(m_hWnd, SW_HIDE);
}

void CDlgDownload::WaitForWorker()
{
    // The worker posted its last message and is ending; nothing it used may
    // go before it has.
    if (m_hWorker && ::WaitForSingleObject(m_hWorker.get(), 30000) != WAIT_OBJECT_0)
        WriteLog(1, "[CDlgDownload] the download worker did not end within 30 s");
    m_hWorker.reset();
}

LRESULT CDlgDownload::OnExtractProgress(WPARAM wParam)
{
    if (Cancelled()) return -1;
    if (wParam == 1) {
        m_strCaption = LoadResString(IDS_UNPACKING);
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    return 0;
}

void CDlgDownload::Paint(HDC target)
{
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    zelto::ScopedMemoryDc dc(::CreateCompatibleDC(target));
    zelto::ScopedGdiObject surface(::CreateCompatibleBitmap(target, client.right, client.bottom));
    zelto::ScopedSelectObject selected(dc.get(), surface.get());
    Draw(dc.get());
    ::SetBkMode(dc.get(), TRANSPARENT);

    if (!m_strCaption.empty()) {
        zelto::ScopedSelectObject font(dc.get(), m_fontGulim.get());
        ::SetTextColor(dc.get(), RGB(126, 126, 126));
        ::TextOutA(dc.get(), 52, 46, m_strCaption.c_str(), static_cast<int>(m_strCaption.size()));
    }
    const ByteCounterText counter = FormatByteCounter(m_nPosition, m_nTotal);
    const char* first = counter.open.c_str();
    const char* middle = counter.position.c_str();
    const char* last = counter.rest.c_str();
    zelto::ScopedSelectObject font(dc.get(), m_fontDotum.get());
    SIZE a, b, c;
    ::GetTextExtentPoint32A(dc.get(), first, lstrlenA(first), &a);
    ::GetTextExtentPoint32A(dc.get(), middle, lstrlenA(middle), &b);
    ::GetTextExtentPoint32A(dc.get(), last, lstrlenA(last), &c);
    int x = (client.right - (a.cx + b.cx + c.cx)) / 2;
    ::SetTextColor(dc.get(), RGB(126, 126, 126));
    ::TextOutA(dc.get(), x, 112, first, lstrlenA(first));
    ::SetTextColor(dc.get(), RGB(0, 0, 0));
    ::TextOutA(dc.get(), x + a.cx, 112, middle, lstrlenA(middle));
    ::SetTextColor(dc.get(), RGB(126, 126, 126));
    ::TextOutA(dc.get(), x + a.cx + b.cx, 112, last, lstrlenA(last));

    ::BitBlt(target, 0, 0, client.right, client.bottom, dc.get(), 0, 0, SRCCOPY);
}
