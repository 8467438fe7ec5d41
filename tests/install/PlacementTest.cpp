#include "install/Placement.h"

#include "DialogDriver.h"
#include "base/LastError.h"
#include "install/ProcessOperations.h"
#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <utility>

namespace {

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

std::string PendingOperations()
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSessionManager, ZELTO_KEY_READ) != ERROR_SUCCESS) return std::string();
    std::string text(65536, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    if (::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(&text[0]), &size) != ERROR_SUCCESS)
        return std::string();
    text.resize(size);
    for (char& c : text) if (c == '\0') c = '|';
    return text;
}

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CUtil::InitSystemFolders();
        m_dir = CUtil::GetStagingFolder() + "\\zelto placement";
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        m_file.m_szName = "ZeltoTestCtl.dll";
        m_file.m_szDestFileName = m_dir + "\\ZeltoTestCtl.dll";
        m_staged = CUtil::GetStagingFolder() + "\\ZeltoTestCtl.dll";
        ::CopyFileA(testutil::Component("v1005\\ZeltoTestCtl.dll").c_str(), m_staged.c_str(), FALSE);
    }
    void TearDown() override
    {
        ::SetFileAttributesA(m_file.m_szDestFileName.c_str(), FILE_ATTRIBUTE_NORMAL);
        testutil::WaitFor([&] { return ::DeleteFileA(m_file.m_szDestFileName.c_str()) || ::GetLastError() == 2; }, 5000);
        ::DeleteFileA(m_staged.c_str());
        ::RemoveDirectoryA(m_dir.c_str());
    }
    DWORD DestLow()
    {
        DWORD high = 0, low = 0;
        CUtil::GetFileVersion(m_file.m_szDestFileName.c_str(), &high, &low);
        return low;
    }
    // A process that holds the destination loaded.
    HANDLE Hold()
    {
        ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), m_file.m_szDestFileName.c_str(), FALSE);
        std::string command = "\"" + testutil::Component("holder\\ZeltoHolder.exe") + "\" \"" + m_file.m_szDestFileName + "\"";
        STARTUPINFOA si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        ::CloseHandle(pi.hThread);
        testutil::WaitFor([&] { return !IsFileFree(m_file.m_szDestFileName.c_str()); }, 10000);
        return pi.hProcess;
    }
    void Browser(const char* version)
    {
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector", "IE", version);
        CUtil::InitSystemFolders();
    }
    static void Release(HANDLE process)
    {
        ::TerminateProcess(process, 0);
        ::WaitForSingleObject(process, 5000);
        ::CloseHandle(process);
    }

    CUpdateInfo m_file;
    std::string m_dir, m_staged;
    testutil::RegistryValueGuard m_pending{HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations"};
    testutil::RegistryValueGuard m_ie{HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector", "IE"};
};

TEST_F(PlacementTest, MissingDestinationGetsTheStagedFile)
{
    int restart = 0;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 0, restart));
    EXPECT_EQ(5u, DestLow());
    EXPECT_FALSE(testutil::FileExists(m_staged)) << "removed from the staging folder";
    EXPECT_EQ(0, restart);
}

TEST_F(PlacementTest, InUseWithRebootIsReplacedAtRestart)
{
    // An operation of somebody else's that must survive the cancellation below.
    const std::string other = "\\??\\C:\\other.tmp|\\??\\C:\\other.dll|";
    testutil::SetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ,
                               "\\??\\C:\\other.tmp\0\\??\\C:\\other.dll\0\0",
                               static_cast<DWORD>(other.size() + 1));
    HANDLE holder = Hold();
    m_file.m_bReboot = 1;
    int restart = 0;
    Placement placement = Placement::Nothing;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 1, restart, std::string(), &placement));
    EXPECT_EQ(Placement::AtRestart, placement);
    EXPECT_EQ(1, restart);
    // As the system reads them at boot: first the old file's deletion, then
    // the new bytes' move onto it, from beside the destination (later runs
    // empty the staging folder).
    const std::string waiting = m_file.m_szDestFileName + ".zelto-restart";
    const std::string dest = "\\??\\" + m_file.m_szDestFileName;
    EXPECT_EQ(other + dest + "||" + "\\??\\" + waiting + "|" + dest + "||", PendingOperations());
    EXPECT_EQ(testutil::ReadWholeFile(testutil::Component("v1005\\ZeltoTestCtl.dll")), testutil::ReadWholeFile(waiting))
        << "the new bytes wait beside the destination";
    EXPECT_FALSE(testutil::FileExists(m_staged)) << "nothing of it left in the staging folder";

    // A later run places the file at once: the restart's operations on it
    // are taken back, so the restart cannot delete what it placed.
    Release(holder);
    ::CopyFileA(testutil::Component("v1005\\ZeltoTestCtl.dll").c_str(), m_staged.c_str(), FALSE);
    m_file.m_bReboot = 0;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 1, restart, std::string(), &placement));
    EXPECT_EQ(Placement::Replaced, placement);
    EXPECT_EQ(other + "|", PendingOperations()) << "only this file's operations are taken back";
    EXPECT_FALSE(testutil::FileExists(waiting)) << "the waiting copy goes with them";
    EXPECT_EQ(5u, DestLow());
}

TEST_F(PlacementTest, InUseWithForceBeforeBrowser8ClosesTheHolderAfterConsent)
{
    Browser("7.0");
    HANDLE holder = Hold();
    int restart = 0;
    {
        testutil::DialogDriver ok(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
        EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 1, restart));
    }
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(holder, 5000)) << "the holder was ended";
    ::CloseHandle(holder);
    EXPECT_EQ(5u, DestLow()) << "replaced now";
    EXPECT_EQ(0, restart);
}

TEST_F(PlacementTest, InUseWithForceFromBrowser8WaitsForTheUser)
{
    Browser("9.0");
    HANDLE holder = Hold();
    int restart = 0;
    {
        // The user closes the browser, then presses OK.
        testutil::DialogDriver ok(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), [&](HWND) { Release(holder); });
        EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 1, restart));
    }
    EXPECT_EQ(5u, DestLow());

    holder = Hold();
    ::CopyFileA(testutil::Component("v1005\\ZeltoTestCtl.dll").c_str(), m_staged.c_str(), FALSE);
    {
        testutil::DialogDriver cancel(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 1, restart)) << "a cancelled wait still counts as success";
    }
    EXPECT_EQ(4u, DestLow()) << "the old file stays";
    EXPECT_TRUE(testutil::FileExists(m_staged));
    EXPECT_EQ(0, restart);
    Release(holder);
}

TEST_F(PlacementTest, ReadOnlyDestinationIsTreatedAsInUse)
{
    ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), m_file.m_szDestFileName.c_str(), FALSE);
    ::SetFileAttributesA(m_file.m_szDestFileName.c_str(), FILE_ATTRIBUTE_READONLY);
    int restart = 0;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 0, restart));
    EXPECT_EQ(4u, DestLow()) << "left for the restart";
}

TEST_F(PlacementTest, MissingStagedFileLeavesTheOldFile)
{
    // An archive without the file, say: the installed file must not go.
    ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), m_file.m_szDestFileName.c_str(), FALSE);
    ::DeleteFileA(m_staged.c_str());
    int restart = 0;
    EXPECT_FALSE(MoveInstallFiles(m_file, m_staged, 1, restart));
    EXPECT_EQ(1014u, LastError.dwAppError);
    EXPECT_EQ(4u, DestLow());
}

// The file's identity (volume and index): the same after a move, another
// after a copy.
std::pair<DWORD, ULONGLONG> Identity(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return known ? std::make_pair(info.dwVolumeSerialNumber,
                                  (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow)
                 : std::make_pair(DWORD(0), ULONGLONG(0));
}

// The access list as text ("" when the system keeps none).
std::string AccessList(const std::string& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return "?";
    char* text = nullptr;
    std::string out;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                               &text, nullptr))
        out = text;
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return out;
}

// A staged file no other file needs is moved into place, not copied, and
// ends with the access list a file made in the destination's folder gets.
// A try that meets a held destination puts it back, so that the restart
// still finds the new bytes.
TEST_F(PlacementTest, AStagedFileOfItsOwnIsMovedIntoPlace)
{
    const auto staged = Identity(m_staged);
    int restart = 0;
    Placement placement = Placement::Nothing;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 0, restart, std::string(), &placement));
    EXPECT_EQ(Placement::Created, placement);
    EXPECT_EQ(5u, DestLow());
    EXPECT_FALSE(testutil::FileExists(m_staged));
    EXPECT_EQ(staged, Identity(m_file.m_szDestFileName)) << "the staged file itself, moved";
    const std::string fresh = m_dir + "\\made here.bin";
    testutil::WriteWholeFile(fresh, "x");
    EXPECT_EQ(AccessList(fresh), AccessList(m_file.m_szDestFileName)) << "the folder's, not the staging folder's";
    ::DeleteFileA(fresh.c_str());

    ::CopyFileA(testutil::Component("v1005\\ZeltoTestCtl.dll").c_str(), m_staged.c_str(), FALSE);
    ::DeleteFileA(m_file.m_szDestFileName.c_str());
    HANDLE holder = Hold();
    m_file.m_bReboot = 1;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 1, restart, std::string(), &placement));
    EXPECT_EQ(Placement::AtRestart, placement);
    EXPECT_EQ(testutil::ReadWholeFile(testutil::Component("v1005\\ZeltoTestCtl.dll")),
              testutil::ReadWholeFile(m_file.m_szDestFileName + ".zelto-restart"))
        << "the new bytes wait beside the destination";
    EXPECT_FALSE(testutil::FileExists(m_file.m_szDestFileName + ".zelto-new"));
    Release(holder);
    ::DeleteFileA((m_file.m_szDestFileName + ".zelto-restart").c_str());
}

TEST_F(PlacementTest, AStagedFileAnotherFileNeedsIsCopiedAndStays)
{
    const auto staged = Identity(m_staged);
    int restart = 0;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 0, restart, std::string(), nullptr, true));
    EXPECT_EQ(5u, DestLow());
    EXPECT_TRUE(testutil::FileExists(m_staged)) << "left for the other file";
    EXPECT_EQ(staged, Identity(m_staged));
    EXPECT_NE(staged, Identity(m_file.m_szDestFileName)) << "a copy";

    HANDLE holder = Hold();
    m_file.m_bReboot = 1;
    EXPECT_TRUE(MoveInstallFiles(m_file, m_staged, 1, restart, std::string(), nullptr, true));
    EXPECT_TRUE(testutil::FileExists(m_staged)) << "left for the other file, also when this one waits";
    Release(holder);
    ::DeleteFileA((m_file.m_szDestFileName + ".zelto-restart").c_str());
}

TEST(RestartTime, RemoveAtRestartRegistersTheDeletion)
{
    testutil::RegistryValueGuard pending(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
    CUtil::InitSystemFolders();
    std::string path = CUtil::GetStagingFolder() + "\\zelto-remove-at-restart.dll";
    testutil::WriteWholeFile(path, "x");
    EXPECT_TRUE(RemoveAtRestart(path.c_str(), nullptr));
    EXPECT_NE(std::string::npos, PendingOperations().find("zelto-remove-at-restart.dll"));
    ::DeleteFileA(path.c_str());
}

}  // namespace
