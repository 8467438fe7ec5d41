#include "install/ProcessOperations.h"
#include "proc/Accounts.h"
#include "proc/InteractiveUser.h"
#include "proc/TaskManager.h"

#include "DialogDriver.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

// A process that holds a copy of a test component loaded.
class HeldLibrary {
public:
    explicit HeldLibrary(const std::string& dllPath)
    {
        std::string command = "\"" + testutil::Component("holder\\ZeltoHolder.exe") + "\" \"" + dllPath + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            ::CloseHandle(pi.hThread);
            m_process = pi.hProcess;
            m_pid = pi.dwProcessId;
        }
        testutil::WaitFor([&] { return !IsFileFree(dllPath.c_str()); }, 10000);
    }
    ~HeldLibrary()
    {
        if (Running()) ::TerminateProcess(m_process, 0);
        ::WaitForSingleObject(m_process, 5000);
        ::CloseHandle(m_process);
    }
    bool Running() const { return m_process && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
    DWORD Pid() const { return m_pid; }

private:
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
};

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CUtil::InitSystemFolders();
        m_dir = CUtil::GetStagingFolder() + "\\zelto held component";
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        m_dll = m_dir + "\\ZeltoTestCtl.dll";
        ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), m_dll.c_str(), FALSE);
    }
    void TearDown() override
    {
        testutil::WaitFor([&] { return ::DeleteFileA(m_dll.c_str()) != 0; }, 5000);
        ::RemoveDirectoryA(m_dir.c_str());
    }
    std::string m_dir, m_dll;
};

TEST_F(ProcessTest, FileFreeProbe)
{
    EXPECT_TRUE(IsFileFree(m_dll.c_str()));
    EXPECT_TRUE(IsFileFree((m_dir + "\\missing.dll").c_str()));
    HeldLibrary holder(m_dll);
    ASSERT_TRUE(holder.Running());
    EXPECT_FALSE(IsFileFree(m_dll.c_str()));
}

TEST_F(ProcessTest, SnapshotListsModulesButNotTheMainImage)
{
    HeldLibrary holder(m_dll);
    CTaskManager manager;
    EXPECT_STREQ("psapi", manager.BackEndName());
    ASSERT_TRUE(manager.Populate());
    bool found = false;
    for (unsigned i = 0; i < manager.GetProcessCount(); ++i) {
        CExeModuleInstance* process = manager.GetProcessByIndex(i);
        if (process->GetProcessId() != holder.Pid()) continue;
        found = true;
        EXPECT_STREQ("ZeltoHolder.exe", process->GetBaseName());
        bool hasDll = false;
        for (size_t m = 0; m < process->GetModuleCount(); ++m) {
            EXPECT_STRNE("ZeltoHolder.exe", process->GetModuleByIndex(m)->GetBaseName());
            if (lstrcmpiA(process->GetModuleByIndex(m)->GetBaseName(), "ZeltoTestCtl.dll") == 0) hasDll = true;
        }
        EXPECT_TRUE(hasDll);
    }
    EXPECT_TRUE(found);

    // The main image never matches: the holder's own file is in use, but no
    // module of any process is it.
    std::string exe = testutil::Component("holder\\ZeltoHolder.exe");
    EXPECT_TRUE(CloseProcessesUsingModulePath(exe.c_str(), 1, nullptr, nullptr, 1));
    EXPECT_TRUE(holder.Running());
}

TEST_F(ProcessTest, DetectOnlyFindsByNameAndByPathWithoutDialog)
{
    HeldLibrary holder(m_dll);
    char shortPath[MAX_PATH] = {};
    ::GetShortPathNameA(m_dll.c_str(), shortPath, MAX_PATH);

    EXPECT_FALSE(CloseProcessesUsingModulePath(m_dll.c_str(), 0, nullptr, nullptr, 1));
    // By name the holder is found from any current folder (any case); with
    // the library's path a free file answers at once.
    EXPECT_FALSE(CloseProcessesUsingModuleName("ZELTOTESTCTL.DLL", 0, nullptr, nullptr, 1));
    EXPECT_FALSE(CloseProcessesUsingModuleName("ZeltoTestCtl.dll", 0, nullptr, nullptr, 1, m_dll.c_str()));
    EXPECT_TRUE(CloseProcessesUsingModuleName("ZeltoTestCtl.dll", 0, nullptr, nullptr, 1, (m_dir + "\\free.dll").c_str()));
    EXPECT_TRUE(holder.Running()) << "detect-only closes nothing";
    EXPECT_TRUE(CloseProcessesUsingModulePath((m_dir + "\\other.dll").c_str(), 0, nullptr, nullptr, 1))
        << "a free file returns at once";
}

TEST_F(ProcessTest, ShortModulePathMatchesTheLongPath)
{
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetShortPathNameA(m_dll.c_str(), shortPath, MAX_PATH));
    ASSERT_STRNE(m_dll.c_str(), shortPath);
    HeldLibrary holder(shortPath);
    EXPECT_FALSE(CloseProcessesUsingModulePath(m_dll.c_str(), 0, nullptr, nullptr, 1));
}

TEST_F(ProcessTest, AgreementGivenClosesWithoutDialog)
{
    HeldLibrary holder(m_dll);
    BYTE agreement = 1;
    EXPECT_TRUE(CloseProcessesUsingModulePath(m_dll.c_str(), 1, nullptr, &agreement, 0));
    EXPECT_TRUE(testutil::WaitFor([&] { return !holder.Running(); }, 5000));
    EXPECT_TRUE(testutil::WaitFor([&] { return IsFileFree(m_dll.c_str()) != 0; }, 5000));
}

TEST_F(ProcessTest, UserIsAskedOnceThroughTheAgreementByte)
{
    HeldLibrary holder(m_dll);
    BYTE agreement = 0;
    {
        testutil::DialogDriver cancel(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        EXPECT_FALSE(CloseProcessesUsingModulePath(m_dll.c_str(), 0, nullptr, &agreement, 0));
    }
    EXPECT_EQ(0, agreement);
    EXPECT_TRUE(holder.Running()) << "refused: nothing closed";
    {
        testutil::DialogDriver ok(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
        EXPECT_TRUE(CloseProcessesUsingModulePath(m_dll.c_str(), 0, nullptr, &agreement, 0));
    }
    EXPECT_EQ(1, agreement);
    EXPECT_TRUE(testutil::WaitFor([&] { return !holder.Running(); }, 5000));
}

TEST_F(ProcessTest, WaitIsNotNeededBeforeBrowser8)
{
    // Browser 7: no waiting (and no dialog) even though the file is held.
    const char vector[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector";
    testutil::RegistryValueGuard ie(HKEY_LOCAL_MACHINE, vector, "IE");
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, vector, "IE", "7.0");
    CUtil::InitSystemFolders();
    ASSERT_EQ(7, CUtil::Folders().nIEMajorVersion);
    HeldLibrary holder(m_dll);
    EXPECT_EQ(1, WaitUntilFileReleased(m_dll.c_str(), 1, nullptr));
    EXPECT_TRUE(holder.Running());
}

TEST(Accounts, SidTexts)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 5, 21, 1, 2, 3, 1000, 0, 0, 0, &sid));
    char text[256];
    FormatSidText(sid, text, sizeof(text));
    ::FreeSid(sid);
    EXPECT_STREQ("S-1-5-21-1-2-3-1000", text);

    char own[256] = "";
    EXPECT_TRUE(GetProcessOwnerSid(::GetCurrentProcess(), own, sizeof(own)));
    EXPECT_EQ(0, std::string(own).find("S-1-5-21-"));

    std::string name, session;
    EXPECT_TRUE(GetProcessAccountName(nullptr, name, FALSE));
    EXPECT_TRUE(GetSessionUserName(session));
    EXPECT_EQ(session, name) << "the test runs as the session user";

    std::string interactive;
    EXPECT_TRUE(GetInteractiveUserSid(interactive));
    EXPECT_EQ(std::string(own), interactive);
    std::string again;
    EXPECT_TRUE(GetInteractiveUserSid(again)) << "cached";
    EXPECT_EQ(interactive, again);
}

}  // namespace
