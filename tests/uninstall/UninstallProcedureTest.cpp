#include "uninstall/UninstallProcedure.h"

#include "install/Placement.h"
#include "install/ProgramCopy.h"

#include "DialogDriver.h"
#include "base/Handles.h"
#include "install/ItemInstallation.h"
#include "install/ProcessOperations.h"
#include "sys/RegKey.h"
#include "sys/Util.h"
#include "uninstall/ControlCache.h"
#include "TestUtil.h"

#include <ZeltoConfig.h>

#include <gtest/gtest.h>

#include <ole2.h>

#include <algorithm>

namespace {

std::vector<std::string> g_removed;   // what the stand-in control cache was asked to remove

HRESULT WINAPI RecordRemoval(LPCSTR path, LPCSTR clsid, LPCSTR, BOOL, BOOL)
{
    g_removed.push_back(std::string(path) + "|" + clsid);
    return S_OK;
}

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

class UninstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        CUtil::InitSystemFolders();
        g_removed.clear();
        m_dir = std::string(CUtil::Folders().szProgramFiles) + "\\Zelto Uninstall Test";
        // Files are staged as a run stages them (a removal of every item takes the folder away).
        ASSERT_TRUE(CUtil::PrepareStagingFolder());
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        testutil::RemoveUninstallEntry();
    }
    void TearDown() override
    {
        for (const char* name : {"ZeltoTestCtl.dll", "ZeltoTestCtl2.dll"}) {
            std::string path = m_dir + "\\" + name;
            CUtil::UnregisterServer(path.c_str());
            ::DeleteFileA(path.c_str());
        }
        ::RemoveDirectoryA(m_dir.c_str());
        testutil::RemoveUninstallEntry();
        ::CoUninitialize();
    }
    // Installs one item with one registered file, as the install engine does.
    void Install(const char* item, const char* component, const char* name, const char* clsid, int shared = 0)
    {
        ::CopyFileA(testutil::Component(std::string(component) + "\\" + name).c_str(),
                    (CUtil::GetStagingFolder() + "\\" + name).c_str(), FALSE);
        CUpdateSet set;
        set.m_strName = item;
        set.m_arrUpdateFile.push_back(std::make_unique<CUpdateInfo>());
        CUpdateInfo& file = *set.m_arrUpdateFile.back();
        file.m_szName = name;
        file.m_szDestFileName = m_dir + "\\" + name;
        file.m_bRegister = 1;
        file.m_bSharedDll = shared;
        file.m_szClassId = std::string(clsid).substr(1, 36);
        int restart = 0;
        ASSERT_TRUE(InstallItem(set, 1, restart));
    }
    static bool Registered(const char* clsid)
    {
        WORD code = 0;
        CUtil::CheckClassRegistration(std::string(clsid).substr(1, 36).c_str(), &code);
        return code == 1;
    }
    // A program that holds path loaded, as a browser holds a control.
    static zelto::ScopedKernelHandle Hold(const std::string& path)
    {
        std::string command = "\"" + testutil::Component("holder\\ZeltoHolder.exe") + "\" \"" + path + "\"";
        STARTUPINFOA si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        EXPECT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        ::CloseHandle(pi.hThread);
        EXPECT_TRUE(testutil::WaitFor([&] { return !IsFileFree(path.c_str()); }, 10000)) << "the holder did not load " << path;
        return zelto::ScopedKernelHandle(pi.hProcess);
    }
    static bool Running(const zelto::ScopedKernelHandle& process) { return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; }
    static bool RecordExists(const std::string& sub)
    {
        CRegKey key;
        return key.Open(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + sub).c_str(), ZELTO_KEY_READ) == ERROR_SUCCESS;
    }
    std::string m_dir;
};

TEST_F(UninstallTest, OneOfTwoItemsLeavesTheRestAlone)
{
    Install("First", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    Install("Second", "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B);
    UninstallRequest request;
    request.removeControl = &RecordRemoval;
    request.items = {"First"};
    testutil::TestLog log(2);
    EXPECT_EQ(1u, RunUninstall(request));

    EXPECT_FALSE(testutil::FileExists(m_dir + "\\ZeltoTestCtl.dll"));
    EXPECT_FALSE(Registered(TEST_CLSID_A));
    EXPECT_FALSE(RecordExists("\\First"));
    EXPECT_EQ(1u, g_removed.size());
    EXPECT_EQ(m_dir + "\\ZeltoTestCtl.dll|" + TEST_CLSID_A, g_removed.at(0));
    EXPECT_TRUE(testutil::FileExists(m_dir + "\\ZeltoTestCtl2.dll")) << "the other item stays";
    EXPECT_TRUE(Registered(TEST_CLSID_B));
    EXPECT_TRUE(RecordExists("\\Second"));
    EXPECT_TRUE(RecordExists("")) << "the uninstall entry stays";
    EXPECT_TRUE(log.Has("Success Uninstall (First)"));
}

TEST_F(UninstallTest, SharedFilesAndUnregisterTwoAreLeft)
{
    Install("Shared", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    Install("Other", "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B);
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\Other\\ZeltoTestCtl2").c_str(),
                             "Unregister", 2);
    UninstallRequest request;
    request.items = {"Shared", "Other"};
    EXPECT_EQ(1u, RunUninstall(request));
    EXPECT_TRUE(testutil::FileExists(m_dir + "\\ZeltoTestCtl.dll")) << "a shared file is never deleted";
    EXPECT_TRUE(Registered(TEST_CLSID_A)) << "nor unregistered";
    char server[MAX_PATH];
    EXPECT_TRUE(CUtil::GetInprocServerPath(std::string(TEST_CLSID_B).substr(1, 36).c_str(), server, sizeof(server)))
        << "Unregister 2 is not unregistered (its registration stays, though the file went)";
    EXPECT_FALSE(testutil::FileExists(m_dir + "\\ZeltoTestCtl2.dll"));
    EXPECT_FALSE(RecordExists("\\Shared"));
    EXPECT_FALSE(RecordExists("\\Other"));
    CUtil::UnregisterServer((m_dir + "\\ZeltoTestCtl2.dll").c_str());
}

TEST_F(UninstallTest, AllItemsRemoveTheEntryAndScheduleTheProgram)
{
    testutil::RegistryValueGuard pending(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
    testutil::RegistryValueGuard noShow(HKEY_CURRENT_USER, "SOFTWARE\\QRV Corporation", "NoShowIfUpdate");
    CUtil::SetProfileInteger(HKEY_CURRENT_USER, "SOFTWARE\\QRV Corporation", "NoShowIfUpdate", 1);
    // The companion control, registered and listed by the control cache.
    const std::string companion = m_dir + "\\ZeltoOmbrix.dll";
    const std::string store = std::string("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\") +
                              ZELTO_COMPANION_CLSID;
    ::CopyFileA(testutil::Component("companion\\ZeltoOmbrix.dll").c_str(), companion.c_str(), FALSE);
    ASSERT_TRUE(CUtil::RegisterServer(companion.c_str()));
    ASSERT_TRUE(Registered(ZELTO_COMPANION_CLSID));
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (store + "\\Contains\\Files").c_str(), companion.c_str(), "");
    Install("Only", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    UninstallRequest request;
    request.allSelected = 1;
    request.items = {"Only"};
    request.removeControl = &RecordRemoval;
    // A browser holds the companion. On browser 8 Cancel on the notice
    // removes nothing; a quiet removal asks nothing and ends no program.
    const char vector[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector";
    testutil::RegistryValueGuard ie(HKEY_LOCAL_MACHINE, vector, "IE");
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, vector, "IE", "8.0");
    CUtil::InitSystemFolders();
    zelto::ScopedKernelHandle holder = Hold(companion);
    {
        testutil::DialogDriver cancel(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        EXPECT_EQ(0u, RunUninstall(request));
    }
    EXPECT_TRUE(RecordExists("\\Only") && Registered(TEST_CLSID_A) && Registered(ZELTO_COMPANION_CLSID));
    request.quiet = true;
    zelto::ScopedKernelHandle itemHolder = Hold(m_dir + "\\ZeltoTestCtl.dll");
    // The entry's copy of the program, open as a running program's file is.
    const std::string copy = ProgramCopyPath();
    testutil::WriteWholeFile(copy, "the program");
    zelto::ScopedFile running(::CreateFileA(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    testutil::TestLog log(2);
    {
        testutil::DialogDriver none(WM_COMMAND, std::vector<WPARAM>{});
        EXPECT_EQ(1u, RunUninstall(request));
    }
    for (auto* process : {&holder, &itemHolder}) {
        EXPECT_TRUE(Running(*process)) << "a quiet removal ends no program";
        ::TerminateProcess(process->get(), 0);
        ::WaitForSingleObject(process->get(), 5000);
    }
    CUtil::InitSystemFolders();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, store.c_str());
    EXPECT_FALSE(Registered(ZELTO_COMPANION_CLSID)) << "the companion's class is unregistered";
    EXPECT_EQ(1u, std::count(g_removed.begin(), g_removed.end(), companion + "|" + ZELTO_COMPANION_CLSID))
        << "the control cache is asked to remove the companion";
    EXPECT_FALSE(RecordExists("")) << "the whole uninstall entry goes";
    EXPECT_EQ(99u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, "SOFTWARE\\QRV Corporation", "NoShowIfUpdate", 99));
    EXPECT_TRUE(log.Has("All Item was uninstalled!"));
    CRegKey key;
    key.Open(HKEY_LOCAL_MACHINE, kSessionManager, ZELTO_KEY_READ);
    std::string text(65536, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    ::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &size);
    EXPECT_NE(std::string::npos, text.find(copy)) << "the entry's copy of the program goes at the restart";
    EXPECT_EQ(std::string::npos, text.find("test_uninstall.exe")) << "the file that was started is not the entry's";
    running.reset();
    ::DeleteFileA(copy.c_str());
    CancelReplaceAtRestart(std::string(), copy.c_str());   // nothing left for other tests to find
    EXPECT_TRUE(!testutil::FileExists(companion) || text.find("ZeltoOmbrix.dll") != std::string::npos)
        << "the companion's file is deleted or scheduled for deletion";
    ::DeleteFileA(companion.c_str());
}

TEST_F(UninstallTest, AnItemThatCannotGoKeepsTheEntryAndTheProgram)
{
    testutil::RegistryValueGuard pending(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
    Install("Removable", "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B);
    Install("Stuck", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\Later").c_str(), "DisplayName", "x");
    // Readable by others, but not deletable while it is open.
    HANDLE held = ::CreateFileA((m_dir + "\\ZeltoTestCtl.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    UninstallRequest request;
    request.allSelected = 1;
    request.items = {"Removable", "Stuck", "Later"};
    testutil::TestLog log(2);
    const DWORD started = ::GetTickCount();
    EXPECT_EQ(0u, RunUninstall(request)) << "not a finished removal";
    EXPECT_GE(::GetTickCount() - started, 2000u) << "five tries with four pauses of 500 ms";
    ::CloseHandle(held);
    EXPECT_FALSE(RecordExists("\\Removable"));
    EXPECT_TRUE(RecordExists("\\Stuck")) << "its record stays, to be removed next time";
    EXPECT_TRUE(RecordExists("\\Later")) << "the items after it are not touched";
    EXPECT_TRUE(RecordExists("")) << "the uninstall entry stays with them";
    EXPECT_TRUE(log.Has("[CDlgUninstall::UninstallFiles] ForceDelete(" + m_dir + "\\ZeltoTestCtl.dll) Failed."));
    EXPECT_FALSE(log.Has("Start Uninstall (Later)"));
    EXPECT_TRUE(log.Has("All Item was uninstalled!")) << "the companion removal still runs";
    CRegKey key;
    key.Open(HKEY_LOCAL_MACHINE, kSessionManager, ZELTO_KEY_READ);
    std::string text(65536, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    ::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &size);
    EXPECT_EQ(std::string::npos, text.find("test_uninstall.exe")) << "the program stays to finish the removal";
}

TEST_F(UninstallTest, CancelOnTheInUseQuestionStopsTheWholeRemoval)
{
    // Two items, one of whose files a program holds: Cancel on the question
    // (the consent dialog of browser 7, the close-the-browser notice of
    // browser 8) stops the removal before any item is touched, whichever
    // item is the held one. On browser 7, OK closes the holder and the
    // removal completes; on browser 8 it only asks again.
    const char vector[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector";
    testutil::RegistryValueGuard ie(HKEY_LOCAL_MACHINE, vector, "IE");
    Install("Free", "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B);
    Install("Held", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    const std::string dll = m_dir + "\\ZeltoTestCtl.dll";
    zelto::ScopedKernelHandle holder = Hold(dll);

    UninstallRequest request;
    request.removeControl = &RecordRemoval;
    for (const char* version : {"7.0", "8.0"}) {
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, vector, "IE", version);
        CUtil::InitSystemFolders();
        for (auto order : {std::vector<std::string>{"Free", "Held"}, std::vector<std::string>{"Held", "Free"}}) {
            SCOPED_TRACE(std::string("browser ") + version + ", held item " + (order[0] == "Held" ? "first" : "second"));
            request.items = order;
            {
                testutil::DialogDriver cancel(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
                EXPECT_EQ(0u, RunUninstall(request));
            }
            EXPECT_TRUE(g_removed.empty()) << "nothing unregistered";
            for (const char* name : {"\\ZeltoTestCtl.dll", "\\ZeltoTestCtl2.dll"})
                EXPECT_TRUE(testutil::FileExists(m_dir + name)) << name << " was deleted";
            EXPECT_TRUE(Registered(TEST_CLSID_A) && Registered(TEST_CLSID_B)) << "nothing unregistered";
            EXPECT_TRUE(RecordExists("\\Held") && RecordExists("\\Free")) << "both records intact";
            EXPECT_TRUE(Running(holder));
        }
    }
    // Browser 8: OK on the notice only asks again while the browser (the
    // holder) still runs; nothing is closed for the user.
    {
        testutil::DialogDriver okThenCancel(WM_COMMAND, std::vector<WPARAM>{MAKEWPARAM(IDOK, BN_CLICKED),
                                                                            MAKEWPARAM(IDCANCEL, BN_CLICKED)});
        EXPECT_EQ(0u, RunUninstall(request));
    }
    EXPECT_TRUE(testutil::FileExists(dll));
    EXPECT_TRUE(Running(holder));
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, vector, "IE", "7.0");
    CUtil::InitSystemFolders();
    {
        testutil::DialogDriver ok(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
        EXPECT_EQ(1u, RunUninstall(request));
    }
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(holder.get(), 5000)) << "the holder was closed";
    EXPECT_FALSE(testutil::FileExists(dll));
    EXPECT_FALSE(RecordExists("\\Held") || RecordExists("\\Free"));
    ::TerminateProcess(holder.get(), 0);
    CUtil::InitSystemFolders();
}

TEST_F(UninstallTest, AnItemWithoutFilesGoesByItsRecord)
{
    const std::string item = std::string(UNINSTALL_KEY) + "\\Bare";
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, item.c_str(), "DisplayName", "Bare");
    Install("Kept", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    UninstallRequest request;
    request.items = {"Bare"};
    EXPECT_EQ(1u, RunUninstall(request));
    EXPECT_FALSE(RecordExists("\\Bare"));
    EXPECT_TRUE(RecordExists("\\Kept"));
    EXPECT_TRUE(g_removed.empty());
}

// A recorded control that no longer unregisters (here not a library at all)
// is still handed to the control cache by its class and deleted.
TEST_F(UninstallTest, AFileThatFailsToUnregisterIsStillRemoved)
{
    const std::string path = m_dir + "\\ZeltoTestCtl.dll";
    testutil::WriteWholeFile(path, "not a library");
    const std::string record = std::string(UNINSTALL_KEY) + "\\Broken\\ZeltoTestCtl";
    CUtil::SetProfileInteger(HKEY_LOCAL_MACHINE, record.c_str(), "Unregister", 1);
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, record.c_str(), "ClassID", std::string(TEST_CLSID_A).substr(1, 36).c_str());
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, record.c_str(), "FilePath", path.c_str());
    UninstallRequest request;
    request.removeControl = &RecordRemoval;
    request.items = {"Broken"};
    testutil::TestLog log(1);
    EXPECT_EQ(1u, RunUninstall(request));
    EXPECT_TRUE(log.Has("[CDlgUninstall::UnregisterFiles] UnregisterServer(" + path + ") Failed."));
    EXPECT_EQ(std::vector<std::string>{path + "|" + TEST_CLSID_A}, g_removed);
    EXPECT_FALSE(testutil::FileExists(path));
    EXPECT_FALSE(RecordExists("\\Broken"));
}

// The browser's permission keys for a removed control, by browser version:
// 6 keeps both, 7 deletes the pre-approval, 8 also the statistics key; the
// control cache is asked in every case.
TEST_F(UninstallTest, PermissionKeysByBrowserVersion)
{
    testutil::RegistryValueGuard ie(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector", "IE");
    const std::string preApproved = std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\") + TEST_CLSID_A;
    const std::string stats = std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\") + TEST_CLSID_A;
    auto exists = [](HKEY root, const std::string& path) {
        CRegKey key;
        return key.Open(root, path.c_str(), ZELTO_KEY_READ) == ERROR_SUCCESS;
    };
    struct Case { const char* version; bool preApprovedStays, statsStays; };
    for (const Case& c : {Case{"6.0", true, true}, Case{"7.0", false, true}, Case{"8.0", false, false}}) {
        SCOPED_TRACE(c.version);
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector", "IE", c.version);
        CUtil::InitSystemFolders();
        Install("Control", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
        // Whatever the install wrote, both keys are there before the removal.
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, preApproved.c_str(), "", "");
        CUtil::SetProfileString(HKEY_CURRENT_USER, (stats + "\\iexplore").c_str(), "Count", "1");
        g_removed.clear();
        UninstallRequest request;
        request.removeControl = &RecordRemoval;
        request.items = {"Control"};
        EXPECT_EQ(1u, RunUninstall(request));
        EXPECT_EQ(c.preApprovedStays, exists(HKEY_LOCAL_MACHINE, preApproved));
        EXPECT_EQ(c.statsStays, exists(HKEY_CURRENT_USER, stats));
        EXPECT_EQ(1u, g_removed.size());
        EXPECT_FALSE(Registered(TEST_CLSID_A));
        CRegKey parent;
        if (parent.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved") == ERROR_SUCCESS)
            parent.RecurseDeleteKey(TEST_CLSID_A);
        CRegKey statsParent;
        if (statsParent.Open(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats") == ERROR_SUCCESS)
            statsParent.RecurseDeleteKey(TEST_CLSID_A);
    }
    CUtil::InitSystemFolders();
}

TEST_F(UninstallTest, TheControlCacheLibraryGetsEachRemovedControl)
{
    const std::string log = testutil::ExeFolder() + "\\occache-calls.txt";
    ::DeleteFileA(log.c_str());
    ::SetEnvironmentVariableA("ZELTO_OCCACHE_LOG", log.c_str());
    Install("Cached", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    CControlCache cache;
    ASSERT_NE(nullptr, cache.RemoveControlByName()) << "the stand-in library beside the program";
    UninstallRequest request;
    request.removeControl = cache.RemoveControlByName();
    request.items = {"Cached"};
    EXPECT_EQ(1u, RunUninstall(request));
    EXPECT_EQ(m_dir + "\\ZeltoTestCtl.dll|" + TEST_CLSID_A + "|(null)|1|1\r\n", testutil::ReadWholeFile(log));
    ::DeleteFileA(log.c_str());
}

TEST(ForceDelete, RetriesOnlyWhileTheFileIsInUse)
{
    std::string path = testutil::ExeFolder() + "\\force-delete.bin";
    testutil::WriteWholeFile(path, "x");
    HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(ForceDelete(path.c_str())) << "in use: try again";
    ::CloseHandle(held);
    EXPECT_TRUE(ForceDelete(path.c_str()));
    EXPECT_FALSE(ForceDelete(path.c_str())) << "not found counts as try again";
}

}  // namespace
