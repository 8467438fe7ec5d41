// The install progress window and its download worker: downloads every file
// of every item into the staging folder, then installs the items, offers the
// restart when one is needed and ends the run.
#pragma once

#include "base/Handles.h"
#include "base/LastError.h"
#include "sys/Dialog.h"
#include "ui/KWB_UI_Drawer.h"
#include "ui/SkinButton.h"
#include "ui/SkinProgress.h"

#include <memory>
#include <string>

// The byte counter "( %d%s / %d%s )" in its three runs ("( ", the position,
// " / total )"), in KB from a total of 1,024 bytes on, in Bytes below.
struct ByteCounterText {
    std::string open, position, rest;
};
ByteCounterText FormatByteCounter(int position, int total);

class CDlgDownload : public CDialog, public CKWB_UI_Drawer {
public:
    CDlgDownload();
    BOOL Create(HWND parent) { return CDialog::Create(parent); }

    // The download phase, on the worker thread: TRUE when every item downloaded.
    BOOL DownloadInstallFiles();
    // The installation phase, on the user-interface thread.
    BOOL InstallDownloadedFiles();

    // From the start of the downloads until the run's end is decided.
    bool IsRunning() const { return m_bRunning; }
    // The worker's LastError as it ended (its own thread's pair).
    LastErrorPair m_workerError = {0, 0};
    // The worker's answer when it broke down: the run ends as a failed install.
    static constexpr WPARAM kWorkerBroke = 2;
    // The main frame was asked to close: the downloads are cancelled, an
    // installation stops after the current item; the run then ends with
    // status 101 and closes the frame itself.
    void RequestClose();

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WORD id, WORD code, HWND control) override;
    void OnDestroy() override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    LRESULT OnDownloadProgress(WPARAM wParam, LPARAM lParam);
    void OnFileDownloaded();
    LRESULT OnExtractProgress(WPARAM wParam);
    void OnDownloadComplete(BOOL failed);
    void OnSetupComplete();
    void AbortRun();
    void Paint(HDC dc);
    bool ShouldShowProgress() const;
    bool Cancelled() const;

    void PostPercent(int percent);
    void WaitForWorker();

    zelto::ScopedKernelHandle m_hCancelEvent;
    zelto::ScopedKernelHandle m_hWorker;
    bool m_bRunning = false;
    bool m_bCloseRequested = false;
    int m_nFiles = 0;            // files to download, for the percent without a total
    int m_nFilesDone = 0;
    int m_nLastPercent = -1;     // the last status 30 sent (-1: none yet)
    std::unique_ptr<CSkinProgress> m_pSkinProgress;
    int m_nTotal = 0;
    int m_nPosition = 0;
    std::string m_strCaption;
    zelto::ScopedGdiObject m_fontGulim, m_fontDotum;
    CxSkinButton m_btnClose;
};
