// The install progress window and its download worker: downloads every file
// of every item into the staging folder, then installs the items, offers the
// restart when one is needed and ends the run.
#pragma once

#include "base/Handles.h"
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

    zelto::ScopedKernelHandle m_hCancelEvent;
    std::unique_ptr<CSkinProgress> m_pSkinProgress;
    int m_nTotal = 0;
    int m_nPosition = 0;
    std::string m_strCaption;
    zelto::ScopedGdiObject m_fontGulim, m_fontDotum;
    CxSkinButton m_btnClose;
};
