// The run's catalogue manager: the run parameters from the parameter
// document, the channel to the notification window, and (with the catalogue)
// the items chosen for the run's mode.
#pragma once

#include "base/Singleton.h"
#include "base/Text.h"
#include "catalogue/UpdateSet.h"

#include <windows.h>

#include <pugixml.hpp>

#include <memory>
#include <set>
#include <string>
#include <vector>

class CUpdateInfoMgr {
public:
    CUpdateInfoMgr();
    ~CUpdateInfoMgr();
    CUpdateInfoMgr(const CUpdateInfoMgr&) = delete;
    CUpdateInfoMgr& operator=(const CUpdateInfoMgr&) = delete;

    static CUpdateInfoMgr* GetInstance() { return dom::CSingleton<CUpdateInfoMgr>::GetInstance(); }
    static void DeleteInstance() { dom::CSingleton<CUpdateInfoMgr>::DeleteInstance(); }

    // Reads the parameter document of "-x" into the members below.
    BOOL ParseXMLArgument(const char* document);

    // Fetches, verifies and reads the catalogue; on failure shows the message
    // and posts status 101, and the run ends.
    BOOL LoadUpdateList();
    // The network part of it, on any thread: fetches the catalogue, the keys
    // documents and the signature and verifies it; 0, or the message that
    // says why not. Stops when the cancel event is set.
    UINT FetchCatalogue();
    // The rest, on the window's thread: reads the fetched catalogue (message
    // 0), or shows message and posts status 101.
    BOOL FinishLoading(UINT message);
    // Set while FetchCatalogue runs (may be null): the user's cancel.
    void SetCancelEvent(HANDLE cancel) { m_hCancel = cancel; }
    BOOL DownloadFileList();
    // Where the build names catalogue keys: fetches "<catalogue URL>.sig" and
    // verifies the downloaded catalogue with it; on failure LastError 1015,
    // the catalogue deleted. TRUE at once where the build names none.
    BOOL CheckCatalogueSignature();
    // Where the build names root keys: fetches the keys documents newer than
    // the held one, ".../Repository/keys/<version>.xml" beside the
    // catalogue, and holds each that chains to it; stops at the first that
    // is missing or refused (LastError 1023-1026, logged), the held keys then
    // staying. A change of the catalogue keys forgets every SERIAL floor.
    void UpdateCatalogueKeys();
    static constexpr int kMaxKeysDocumentsPerRun = 16;
    static constexpr ULONGLONG kMaxKeysDocumentBytes = 256 * 1024;
    // Reads the fetched catalogue's bytes into the items of the run's mode.
    // Where the build names catalogue keys, the catalogue must first be
    // bound to the run (CheckCatalogueFreshness) and its SERIAL is recorded.
    BOOL CreateUpdateList();
    // CreateUpdateList on catalogue bytes from elsewhere than the download
    // (the parser fuzzer's way in).
    BOOL CreateUpdateList(std::string catalogue)
    {
        m_catalogue = std::move(catalogue);
        return CreateUpdateList();
    }
    // A signed catalogue's SERIAL, MODE and EXPIRES against the run and the
    // serials accepted before; on refusal LastError 1017, 1018 or 1019.
    BOOL CheckCatalogueFreshness(const pugi::xml_node& root, ULONGLONG& serial);

    // The notification protocol of the starting program.
    void SetNotifyWindow(HWND wnd) { m_hNotifyWnd = wnd; }
    HWND GetNotifyWindow() const { return m_hNotifyWnd; }
    void PostStatus(int code, LPARAM data);
    void PostDialogClosed();
    int GetLastStatus() const { return m_nLastStatus; }

    const std::string& GetSourceURL() const { return m_strSourceURL; }
    const std::string& GetMode() const { return m_strMode; }
    const std::string& GetServiceName() const { return m_strServiceName; }
    int GetShowDlg() const { return m_bShowDlg; }
    int GetForceDelete() const { return m_bForceDelete; }

    // The items chosen for the run, in catalogue order; owned.
    std::vector<std::unique_ptr<CUpdateSet>>& Items() { return m_listUpdateSet; }
    const std::vector<std::unique_ptr<CUpdateSet>>& Items() const { return m_listUpdateSet; }

    // True when this run already made folder (a DEST of the catalogue); else
    // remembers it and returns false, so that the caller makes it.
    bool FolderMade(const std::string& folder) { return !m_madeFolders.insert(LowerCase949(folder)).second; }

    // The statistics URL of the module-install ping: the last item's tag for
    // the run's service name (the last item counts, also when it has none).
    std::string GetModuleInstallTag() const;

    int GetRestartFlag() const { return m_bNeedRestart; }
    void SetRestartFlag(int value) { m_bNeedRestart = value; }
    int GetUpdateMode() const { return m_bUpdateMode; }
    void SetUpdateMode(int value) { m_bUpdateMode = value; }

private:
    std::vector<std::unique_ptr<CUpdateSet>> m_listUpdateSet;
    std::string m_catalogue;   // the fetched catalogue's bytes, until they are read
    std::set<std::string> m_madeFolders;
    std::string m_strSourceURL;
    std::string m_strMode;
    std::string m_strServiceName;
    int m_bShowDlg = 1;
    int m_bForceDelete = 1;
    int m_bNeedRestart = 0;
    int m_bUpdateMode = 0;
    int m_nLastStatus = 0;
    HWND m_hNotifyWnd = nullptr;
    HANDLE m_hCancel = nullptr;
};
