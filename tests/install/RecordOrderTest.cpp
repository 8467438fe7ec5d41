// An item's record is whole or names no file, whenever the writer is killed:
// a process writes two different records of one file over and over, and is
// killed at random moments; every record left behind that names a file must
// carry that file's own removal values.
#include "install/ItemInstallation.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

const char kItem[] = "ZeltoRecordOrder";
const char kWriterVariable[] = "ZELTO_RECORD_WRITER";

void Record(CUpdateInfo& file, const char* path, int registers)
{
    file.m_szName = "ZeltoOrder.dll";
    file.m_szDestFileName = path;
    file.m_bRegister = registers;
}

// The writer: runs only in the child started by the test below.
TEST(RecordOrder, Writer)
{
    if (!std::getenv(kWriterVariable)) GTEST_SKIP() << "the writer runs only when the test below starts it";
    CUpdateInfo a, b;
    Record(a, "C:\\a\\ZeltoOrder.dll", 1);
    Record(b, "C:\\b\\ZeltoOrder.dll", 0);
    for (;;) {
        RegistUninstaller(a, kItem);
        RegistUninstaller(b, kItem);
    }
}

TEST(RecordOrder, AKilledWriterLeavesWholeRecords)
{
    CUtil::InitSystemFolders();
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string command = std::string("\"") + self + "\" --gtest_filter=RecordOrder.Writer";
    const std::string key = std::string(UNINSTALL_KEY) + "\\" + kItem + "\\ZeltoOrder";
    ::SetEnvironmentVariableA(kWriterVariable, "1");
    std::mt19937 random(7);
    int named = 0;
    for (int kill = 0; kill < 60; ++kill) {
        STARTUPINFOA startup = {sizeof(startup)};
        PROCESS_INFORMATION process = {};
        std::string line = command;
        ASSERT_TRUE(::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                     &startup, &process));
        ::Sleep(150 + random() % 60);   // the writer is well into its loop
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, 5000);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);

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
