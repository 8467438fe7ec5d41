// The wizard's list page: the recorded items with a check box each, and the
// remove action that runs the uninstall worker on its own thread while the
// page keeps the windows alive.
#pragma once

#include "base/Handles.h"
#include "uninstall/ControlCache.h"
#include "uninstall/InvPage.h"

#include <memory>
#include <string>
#include <vector>

class CDlgUninstall : public CWizardPage {
public:
    CDlgUninstall();
    BOOL CanGoBack() override { return TRUE; }
    BOOL CanGoNext() override { return TRUE; }
    BOOL CanCancel() override { return TRUE; }
    // Fills the list from the records the first time, then shows the page.
    void Activate(BOOL shown) override;

    // Removes the ticked items; TRUE when the worker removed them all (the
    // wizard then gets UM_UNINSTALL_DONE through the main window).
    BOOL OnRemove();

    HWND List() const { return m_hList; }
    std::vector<std::string> TickedItems() const;

protected:
    BOOL OnInitDialog() override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnCancel() override;
    void PaintExtra(HDC dc) override;

private:
    void InsertRow(const std::string& name);
    std::string RowText(int row) const;
    // After a removal that stopped part-way: the rows of the items whose
    // records are gone leave the list, so that a new try finds the rest.
    void DropRemovedRows();
    // Runs the worker and waits for it, dispatching messages; its exit code.
    DWORD RunWorker(struct UninstallRequest& request);

    HWND m_hList = nullptr;
    zelto::ScopedGdiObject m_listFont;
    std::unique_ptr<CControlCache> m_cache;   // loaded when the page is created
};
