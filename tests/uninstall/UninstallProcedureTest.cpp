#include "uninstall/UninstallProcedure.h"

#include "install/ItemInstallation.h"
#include "uninstall/ControlCache.h"
#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <ole2.h>

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
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        RemoveRecords();
    }
    void TearDown() override
    {
        for (const char* name : {"ZeltoTestCtl.dll", "ZeltoTestCtl2.dll"}) {
            std::string path = m_dir + "\\" + name;
            CUtil::UnregisterServer(path.c_str());
            ::DeleteFileA(path.c_str());
        }
        ::RemoveDirectoryA(m_dir.c_str());
        RemoveRecords();
        ::CoUninitialize();
    }
    static void RemoveRecords()
    {
        CRegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall") == ERROR_SUCCESS)
            key.RecurseDeleteKey("ZeltoSetup");
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
    Install("Only", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    UninstallRequest request;
    request.allSelected = 1;
    request.items = {"Only"};
    testutil::TestLog log(2);
    EXPECT_EQ(1u, RunUninstall(request));
    EXPECT_FALSE(RecordExists("")) << "the whole uninstall entry goes";
    EXPECT_EQ(99u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, "SOFTWARE\\QRV Corporation", "NoShowIfUpdate", 99));
    EXPECT_TRUE(log.Has("All Item was uninstalled!"));
    CRegKey key;
    key.Open(HKEY_LOCAL_MACHINE, kSessionManager, ZELTO_KEY_READ);
    std::string text(65536, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    ::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &size);
    EXPECT_NE(std::string::npos, text.find("test_uninstall.exe")) << "the program schedules its own deletion";
}

TEST_F(UninstallTest, AnItemThatCannotGoKeepsTheEntryAndTheProgram)
{
    testutil::RegistryValueGuard pending(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
    Install("Removable", "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B);
    Install("Stuck", "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A);
    // Readable by others, but not deletable while it is open.
    HANDLE held = ::CreateFileA((m_dir + "\\ZeltoTestCtl.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    UninstallRequest request;
    request.allSelected = 1;
    request.items = {"Removable", "Stuck"};
    testutil::TestLog log(2);
    EXPECT_EQ(1u, RunUninstall(request));
    ::CloseHandle(held);
    EXPECT_FALSE(RecordExists("\\Removable"));
    EXPECT_TRUE(RecordExists("\\Stuck")) << "its record stays, to be removed next time";
    EXPECT_TRUE(RecordExists("")) << "the uninstall entry stays with it";
    EXPECT_TRUE(log.Has("[CDlgUninstall::UninstallFiles] ForceDelete(" + m_dir + "\\ZeltoTestCtl.dll) Failed."));
    EXPECT_TRUE(log.Has("All Item was uninstalled!"));
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
