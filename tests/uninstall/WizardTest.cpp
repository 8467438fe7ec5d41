// The uninstall wizard under Xvfb with a stand-in main window that relays
// the list page's messages as the program's main frame does.
#include "uninstall/UnInstallWizard.h"

#include "base/Messages.h"
#include "install/ItemInstallation.h"
#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include "resource.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <thread>

namespace {

// Relays UM_UNINSTALL_RUNNING (sent) and UM_UNINSTALL_DONE (posted) to the
// wizard and records what reaches it.
class StandInMainWindow {
public:
    StandInMainWindow()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZeltoWizardTestMain";
        ::RegisterClassA(&wc);
        m_hWnd = ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, this);
    }
    ~StandInMainWindow() { ::DestroyWindow(m_hWnd); }

    HWND m_hWnd = nullptr;
    CUnInstallWizard* m_pWizard = nullptr;
    std::vector<int> m_running;        // wParam of every UM_UNINSTALL_RUNNING
    bool m_nextEnabledWhileRunning = true;
    int m_closes = 0;
    bool m_quitOnStart = false;
    bool m_pressAllOnStart = false;   // every button's command while the removal runs

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (msg == WM_NCCREATE)
            ::SetWindowLongPtrA(wnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<StandInMainWindow*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
        if (!self || !self->m_pWizard) return ::DefWindowProcA(wnd, msg, wParam, lParam);
        HWND wizard = self->m_pWizard->GetSafeHwnd();
        switch (msg) {
        case UM_UNINSTALL_RUNNING: {
            self->m_running.push_back(static_cast<int>(wParam));
            LRESULT answer = ::SendMessageA(wizard, UM_UNINSTALL_RUNNING, wParam, 0);
            if (wParam == 0) {
                self->m_nextEnabledWhileRunning = ::IsWindowEnabled(::GetDlgItem(wizard, IDC_WIZARD_NEXT)) != FALSE;
                if (self->m_quitOnStart) ::PostQuitMessage(7);
                if (self->m_pressAllOnStart)   // as Escape, Alt+F4 or a stray click would
                    for (int id : {IDC_WIZARD_BACK, IDC_WIZARD_NEXT, IDCANCEL, IDC_WIZARD_CLOSE})
                        ::SendMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
            }
            return answer;
        }
        case UM_UNINSTALL_DONE:
            ::PostMessageA(wizard, UM_UNINSTALL_DONE, 0, 0);
            return 0;
        case WM_CLOSE:
            ++self->m_closes;   // the program would end here
            return 0;
        default:
            return ::DefWindowProcA(wnd, msg, wParam, lParam);
        }
    }
};

int g_quitCode = -1;   // a quit message the pump took

// Dispatches this thread's messages until done() holds or the time is up.
template <typename Done>
bool Pump(Done done, DWORD timeoutMs = 20000)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                g_quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(10);
    }
    return true;
}

void Settle()
{
    Pump([] { return false; }, 100);
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_quitCode = -1;
        testutil::RemoveUninstallEntry();
        m_main.m_pWizard = &m_wizard;
    }
    void TearDown() override
    {
        m_wizard.DestroyWindow();
        testutil::RemoveUninstallEntry();
    }
    // An item record without file entries: the removal deletes the record.
    static void Record(const char* item)
    {
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\" + item).c_str(), "DisplayName",
                                item);
    }
    static bool RecordExists(const char* item)
    {
        CRegKey key;
        return key.Open(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\" + item).c_str(), ZELTO_KEY_READ) ==
               ERROR_SUCCESS;
    }
    void Start()
    {
        ASSERT_TRUE(m_wizard.Create(m_main.m_hWnd));
        ::PostMessageA(m_wizard.GetSafeHwnd(), UM_START_INSTALL, 0, 0);
        ASSERT_TRUE(Pump([&] { return ::IsWindowVisible(m_wizard.GetSafeHwnd()) != FALSE; }));
    }
    void Command(int id)
    {
        ::PostMessageA(m_wizard.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(m_wizard.GetSafeHwnd(), id)));
        Settle();
    }
    bool Enabled(int id) const { return ::IsWindowEnabled(::GetDlgItem(m_wizard.GetSafeHwnd(), id)) != FALSE; }
    bool Shown(CWizardPage& page) const { return ::IsWindowVisible(page.GetSafeHwnd()) != FALSE; }
    HWND List() { return m_wizard.ListPage().List(); }
    // Selecting a row the way a click on its text does.
    void Click(int row)
    {
        ListView_SetItemState(List(), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        Settle();
    }

    CUnInstallWizard m_wizard;
    StandInMainWindow m_main;
};

TEST_F(WizardTest, NavigationFollowsThePagesAndKeepsTheTicks)
{
    Record("Alpha");
    Record("Beta");
    Record("Gamma");
    Start();
    EXPECT_EQ(0, m_wizard.Step());
    EXPECT_FALSE(Enabled(IDC_WIZARD_BACK));
    EXPECT_TRUE(Enabled(IDC_WIZARD_NEXT));
    EXPECT_TRUE(Enabled(IDCANCEL));
    EXPECT_EQ(IDC_WIZARD_NEXT, ::GetDlgCtrlID(::GetFocus()));
    Command(IDC_WIZARD_BACK);
    EXPECT_EQ(0, m_wizard.Step()) << "back on the start page does nothing";

    Command(IDC_WIZARD_NEXT);
    EXPECT_EQ(1, m_wizard.Step());
    EXPECT_TRUE(Enabled(IDC_WIZARD_BACK));
    ASSERT_EQ(3, ListView_GetItemCount(List()));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(ListView_GetCheckState(List(), i));

    // A click on a row toggles its tick; the tick itself does not toggle again.
    Click(1);
    EXPECT_EQ(std::vector<std::string>{"Beta"}, m_wizard.ListPage().TickedItems());
    Click(2);
    Click(1);
    EXPECT_EQ(std::vector<std::string>{"Gamma"}, m_wizard.ListPage().TickedItems());
    Click(0);

    Record("Delta");   // the list is not read again
    Command(IDC_WIZARD_BACK);
    EXPECT_EQ(0, m_wizard.Step());
    EXPECT_FALSE(Shown(m_wizard.ListPage()));
    Command(IDC_WIZARD_NEXT);
    EXPECT_EQ(1, m_wizard.Step());
    EXPECT_EQ(3, ListView_GetItemCount(List()));
    EXPECT_EQ((std::vector<std::string>{"Alpha", "Gamma"}), m_wizard.ListPage().TickedItems());

    Command(IDCANCEL);
    EXPECT_EQ(1, m_main.m_closes);
    Command(IDC_WIZARD_CLOSE);
    EXPECT_EQ(2, m_main.m_closes);
    EXPECT_TRUE(m_main.m_running.empty());
}

TEST_F(WizardTest, NothingTickedShowsTheNoticeAndStays)
{
    Record("Alpha");
    Start();
    Command(IDC_WIZARD_NEXT);
    // The notice is a modal dialog of its own: found and answered from a helper thread.
    std::atomic<HWND> notice{nullptr};
    HWND wizard = m_wizard.GetSafeHwnd();
    std::atomic<bool> answered{false};
    std::thread answer([&] {
        for (int i = 0; i < 400 && !notice; ++i) {
            ::Sleep(25);
            HWND found = nullptr;
            while ((found = ::FindWindowExA(nullptr, found, "#32770", nullptr)) != nullptr) {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(found, &pid);
                if (pid == ::GetCurrentProcessId() && found != wizard && ::IsWindowVisible(found) &&
                    ::GetDlgItem(found, IDC_CLOSE) && !::GetDlgItem(found, IDCANCEL)) {
                    notice = found;
                    break;
                }
            }
        }
        ::Sleep(100);
        if (notice) ::PostMessageA(notice, WM_COMMAND, IDOK, 0);
        answered = true;
    });
    Command(IDC_WIZARD_NEXT);
    testutil::JoinWithin(answer, answered, 15000, "the helper answering the notice");
    EXPECT_NE(nullptr, notice.load()) << "the confirm notice";
    EXPECT_EQ(1, m_wizard.Step());
    EXPECT_TRUE(m_main.m_running.empty()) << "no removal started";
    EXPECT_TRUE(RecordExists("Alpha"));
    EXPECT_EQ(0, m_main.m_closes);
}

// While the removal runs the buttons are disabled, and their commands, which
// Escape and Alt+F4 send whatever the buttons' state, are ignored.
TEST_F(WizardTest, RemovalDisablesTheButtonsThenReachesTheEndPage)
{
    Record("Alpha");
    Record("Beta");
    Record("Gamma");
    Start();
    Command(IDC_WIZARD_NEXT);
    Click(1);
    m_main.m_pressAllOnStart = true;
    Command(IDC_WIZARD_NEXT);
    ASSERT_TRUE(Pump([&] { return m_wizard.Step() == 2; }));
    Settle();
    EXPECT_EQ((std::vector<int>{0, 1}), m_main.m_running) << "one removal";
    EXPECT_FALSE(m_main.m_nextEnabledWhileRunning);
    EXPECT_FALSE(RecordExists("Beta"));
    EXPECT_TRUE(RecordExists("Alpha"));
    EXPECT_TRUE(RecordExists("Gamma"));

    EXPECT_TRUE(Shown(*m_wizard.CurrentPage()));
    EXPECT_FALSE(Shown(m_wizard.ListPage()));
    EXPECT_FALSE(Enabled(IDC_WIZARD_BACK));
    EXPECT_FALSE(Enabled(IDCANCEL));
    EXPECT_TRUE(Enabled(IDC_WIZARD_NEXT));
    EXPECT_TRUE(Enabled(IDC_WIZARD_CLOSE));
    EXPECT_EQ(0, m_main.m_closes);
    Command(IDC_WIZARD_NEXT);
    EXPECT_EQ(1, m_main.m_closes) << "next on the end page ends the program";
}

TEST_F(WizardTest, MissingRecordsCloseTheProgram)
{
    testutil::TestLog log(1);
    Start();
    Command(IDC_WIZARD_NEXT);
    EXPECT_EQ(1, m_main.m_closes);
    EXPECT_FALSE(Shown(m_wizard.ListPage()));
    EXPECT_TRUE(log.Has("[OnDialogStart] RegOpenKeyEx Failed, Error Code = 2"));
}

// An item record with one file that the test holds open: its removal fails
// after five tries.
class HeldFile {
public:
    explicit HeldFile(const char* item) : m_path(testutil::ExeFolder() + "\\wizard-held.bin")
    {
        testutil::WriteWholeFile(m_path, "x");
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\" + item + "\\held").c_str(),
                                "FilePath", m_path.c_str());
        m_handle = ::CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~HeldFile()
    {
        ::CloseHandle(m_handle);
        ::DeleteFileA(m_path.c_str());
    }
    const std::string m_path;

private:
    HANDLE m_handle;
};

TEST_F(WizardTest, AnItemThatCannotGoKeepsTheListPage)
{
    Record("Alpha");
    HeldFile held("Beta");
    Record("Gamma");
    Start();
    Command(IDC_WIZARD_NEXT);
    Click(0);
    Click(1);
    Command(IDC_WIZARD_NEXT);
    ASSERT_TRUE(Pump([&] { return m_main.m_running.size() == 2; }));
    Settle();
    EXPECT_EQ(1, m_wizard.Step()) << "not the end page";
    for (int id : {IDC_WIZARD_NEXT, IDC_WIZARD_BACK, IDCANCEL, IDC_WIZARD_CLOSE}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_FALSE(RecordExists("Alpha"));
    EXPECT_TRUE(RecordExists("Beta"));
    ASSERT_EQ(2, ListView_GetItemCount(List())) << "the removed item's row went";
    EXPECT_EQ(std::vector<std::string>{"Beta"}, m_wizard.ListPage().TickedItems());
}

// A quit message during the removal ends the waiting, but not before the
// worker is done with the request it was given; the quit is passed on.
TEST_F(WizardTest, QuitDuringTheRemovalWaitsForTheWorker)
{
    HeldFile held("Held");
    Record("Other");
    testutil::TestLog log(2);
    Start();
    Command(IDC_WIZARD_NEXT);
    ASSERT_EQ(2, ListView_GetItemCount(List()));
    Click(0);
    m_main.m_quitOnStart = true;
    ::PostMessageA(m_wizard.GetSafeHwnd(), WM_COMMAND, IDC_WIZARD_NEXT, 0);
    ASSERT_TRUE(Pump([&] { return g_quitCode != -1; }));
    EXPECT_EQ(7, g_quitCode);
    EXPECT_TRUE(log.Has("ForceDelete(" + held.m_path + ") Failed.")) << "the worker had finished";
    EXPECT_EQ((std::vector<int>{0, 1}), m_main.m_running);
    EXPECT_TRUE(RecordExists("Held"));
}

}  // namespace
