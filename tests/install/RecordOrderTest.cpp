// An item's record is whole or names no file, whenever the writer is killed:
// a process writes two different records of one file over and over, and is
// killed at random moments; every record left behind that names a file must
// carry that file's own removal values.
#include "install/ItemInstallation.h"

#include "base/Handles.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

const char kItem[] = "ZeltoRecordOrder";
const char kWriterVariable[] = "ZELTO_RECORD_WRITER";   // names the event the writer sets once writing

void Record(CUpdateInfo& file, const char* path, int registers)
{
    file.m_szName = "ZeltoOrder.dll";
    file.m_szDestFileName = path;
    file.m_bRegister = registers;
}

// The writer: runs only in the child started by the test below.
TEST(RecordOrder, Writer)
{
    const char* ready = std::getenv(kWriterVariable);
    if (!ready) GTEST_SKIP() << "the writer runs only when the test below starts it";
    CUpdateInfo a, b;
    Record(a, "C:\\a\\ZeltoOrder.dll", 1);
    Record(b, "C:\\b\\ZeltoOrder.dll", 0);
    // Ends by itself after 30 s, should a kill ever miss it.
    for (ULONGLONG end = ::GetTickCount64() + 30000; ::GetTickCount64() < end;) {
        RegistUninstaller(a, kItem);
        RegistUninstaller(b, kItem);
        if (*ready) {
            zelto::ScopedKernelHandle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, ready));
            if (event) ::SetEvent(event.get());
            ready = "";
        }
    }
}

TEST(RecordOrder, AKilledWriterLeavesWholeRecords)
{
    CUtil::InitSystemFolders();
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string command = std::string("\"") + self + "\" --gtest_filter=RecordOrder.Writer";
    const std::string key = std::string(UNINSTALL_KEY) + "\\" + kItem + "\\ZeltoOrder";
    const std::string readyName = "ZeltoRecordWriterReady" + std::to_string(::GetCurrentProcessId());
    zelto::ScopedKernelHandle ready(::CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
    ASSERT_TRUE(ready);
    ::SetEnvironmentVariableA(kWriterVariable, readyName.c_str());
    std::mt19937 random(7);
    int named = 0;
    for (int kill = 0; kill < 60; ++kill) {
        ::ResetEvent(ready.get());
        STARTUPINFOA startup = {sizeof(startup)};
        PROCESS_INFORMATION process = {};
        std::string line = command;
        // Detached: a console host of its own can outlive a writer killed as
        // it starts, and would hold the test runner's output open.
        // Starting a process can fail for a moment on a loaded machine (seen
        // once in a whole run): a few tries before the test gives up.
        BOOL started = FALSE;
        DWORD startError = 0;
        for (int attempt = 0; attempt < 5 && !started; ++attempt) {
            line = command;
            started = ::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                                       &startup, &process);
            if (!started) {
                startError = ::GetLastError();
                ::Sleep(1000);
            }
        }
        ASSERT_TRUE(started) << "kill " << kill << ": the writer could not be started, Error Code = " << startError;
        zelto::ScopedKernelHandle child(process.hProcess), thread(process.hThread);
        const bool writing = ::WaitForSingleObject(ready.get(), 20000) == WAIT_OBJECT_0;
        if (writing) ::Sleep(random() % 40);   // somewhere in a later round of writes
        ::TerminateProcess(child.get(), 1);
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(child.get(), 10000)) << "kill " << kill << ": the writer lives on";
        ASSERT_TRUE(writing) << "kill " << kill << ": waited 20 s for the writer to start writing";

        const std::string path = CUtil::GetProfileString(HKEY_LOCAL_MACHINE, key.c_str(), "FilePath", "");
        const DWORD unregister = CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, key.c_str(), "Unregister", 9);
        if (path.empty()) continue;   // names no file: a removal passes it over
        ++named;
        EXPECT_EQ(path == "C:\\a\\ZeltoOrder.dll" ? 1u : 0u, unregister)
            << "kill " << kill << ": the record of " << path << " carries another record's Unregister";
    }
    ::SetEnvironmentVariableA(kWriterVariable, nullptr);
    EXPECT_GT(named, 0) << "the writer never got as far as a whole record";
    DeleteKeyTree(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\" + kItem).c_str());
    testutil::RemoveUninstallEntry();
}

}  // namespace
