#include "install/ItemInstallation.h"

#include "base/Handles.h"
#include "base/LastError.h"
#include "install/ItemRollback.h"
#include "install/ProcessOperations.h"
#include "install/ProgramCopy.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <ZeltoConfig.h>

#include <gtest/gtest.h>

#include <ole2.h>

namespace {

class ItemInstallationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        CUtil::InitSystemFolders();
        m_dir = std::string(CUtil::Folders().szProgramFiles) + "\\Zelto Item Test";
        // Files are staged as a run stages them (a removal of every item takes the folder away).
        ASSERT_TRUE(CUtil::PrepareStagingFolder());
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        testutil::RemoveUninstallEntry();
    }
    void TearDown() override
    {
        for (const char* name : {"ZeltoTestCtl.dll", "ZeltoTestCtl2.dll", "ZeltoShared.dll", "ZeltoOld.dll"}) {
            std::string path = m_dir + "\\" + name;
            CUtil::UnregisterServer(path.c_str());
            ::DeleteFileA(path.c_str());
            ::DeleteFileA((CUtil::GetStagingFolder() + "\\" + name).c_str());
        }
        ::RemoveDirectoryA(m_dir.c_str());
        testutil::RemoveUninstallEntry();
        // The browser's permission keys that registrations wrote.
        for (const char* clsid : {TEST_CLSID_A, TEST_CLSID_B}) {
            DeleteKeyTree(HKEY_LOCAL_MACHINE, (std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\") + clsid).c_str());
            DeleteKeyTree(HKEY_CURRENT_USER, (std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\Stats\\") + clsid).c_str());
        }
        ::CoUninitialize();
    }
    // Stages component\source (source: name when null) as name.
    CUpdateInfo& Stage(CUpdateSet& item, const char* component, const char* name, const char* clsid, int main,
                       const char* source = nullptr)
    {
        ::CopyFileA(testutil::Component(std::string(component) + "\\" + (source ? source : name)).c_str(),
                    (CUtil::GetStagingFolder() + "\\" + name).c_str(), FALSE);
        item.m_arrUpdateFile.push_back(std::make_unique<CUpdateInfo>());
        CUpdateInfo& file = *item.m_arrUpdateFile.back();
        file.m_szName = name;
        file.m_szDestFileName = m_dir + "\\" + name;
        file.m_bRegister = 1;
        file.m_szClassId = std::string(clsid).substr(1, 36);
        file.m_bMainFile = main;
        return file;
    }
    // Item "Upd" as an update finds it: two registered controls of version
    // 1004, and a value only this record has.
    void InstallOldUpd()
    {
        CUpdateSet installed;
        installed.m_strName = "Upd";
        Stage(installed, "v1004", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
        Stage(installed, "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B, 0);
        int restart = 0;
        ASSERT_TRUE(InstallItem(installed, 1, restart));
        CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\Upd").c_str(), "Marker", "old");
    }
    // Both classes are served by the files of InstallOldUpd again.
    void ExpectOldServers()
    {
        for (const auto& control :
             {std::make_pair(TEST_CLSID_A, "ZeltoTestCtl.dll"), std::make_pair(TEST_CLSID_B, "ZeltoTestCtl2.dll")}) {
            char server[MAX_PATH] = "";
            EXPECT_TRUE(CUtil::GetInprocServerPath(std::string(control.first).substr(1, 36).c_str(), server, sizeof(server)));
            EXPECT_EQ(0, lstrcmpiA((m_dir + "\\" + control.second).c_str(), server)) << "registered to the old file: " << server;
        }
    }
    static std::string Record(const std::string& sub, const char* value)
    {
        return CUtil::GetProfileString(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + sub).c_str(), value, "<none>");
    }
    std::string m_dir;
};

TEST_F(ItemInstallationTest, PlacesRegistersAndRecords)
{
    // The companion control as the browser's code store lists it gives the
    // entry's version.
    const std::string units = std::string("SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\") +
                              ZELTO_COMPANION_CLSID;
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (units + "\\Contains\\Files").c_str(),
                            testutil::Component("companion\\ZeltoOmbrix.dll").c_str(), "");
    CUpdateSet item;
    item.m_strName = "ZeltoTestCtl";
    Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    Stage(item, "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_B, 0).m_bSharedDll = 1;
    int restart = 0;
    ASSERT_TRUE(InstallItem(item, 1, restart));

    EXPECT_TRUE(testutil::FileExists(m_dir + "\\ZeltoTestCtl.dll"));
    WORD code = 0;
    CUtil::CheckClassRegistration(std::string(TEST_CLSID_B).substr(1, 36).c_str(), &code);
    EXPECT_EQ(1, code);

    EXPECT_EQ("젤토 옴브릭스", Record("", "DisplayName"));
    // The entry names the program's own copy in the program files folder,
    // the same bytes as the program that ran, never the file that was started.
    const std::string copy = ProgramCopyPath();
    EXPECT_EQ("\"" + copy + "\" -u", Record("", "UninstallString")) << "the path quoted";
    EXPECT_EQ(testutil::ReadWholeFile(testutil::ProgramPath()), testutil::ReadWholeFile(copy));
    EXPECT_EQ("QRV Corp.", Record("", "Publisher"));
    EXPECT_EQ(ZELTO_HOME_URL, Record("", "URLInfoAbout"));
    EXPECT_EQ(copy, Record("", "DisplayIcon"));
    EXPECT_EQ("1.0.1.31", Record("", "DisplayVersion"));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, units.c_str());
    EXPECT_EQ("ZeltoTestCtl", Record("\\ZeltoTestCtl", nullptr)) << "the main file's base name";
    EXPECT_EQ(m_dir + "\\ZeltoTestCtl2.dll", Record("\\ZeltoTestCtl\\ZeltoTestCtl2", "FilePath"));
    EXPECT_EQ(1u, CUtil::GetProfileInteger(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\ZeltoTestCtl\\ZeltoTestCtl2").c_str(),
                                           "SharedDll", 9));
    EXPECT_EQ(std::string(TEST_CLSID_B).substr(1, 36), Record("\\ZeltoTestCtl\\ZeltoTestCtl2", "ClassID"));
}

TEST_F(ItemInstallationTest, SelfUninstallerLeavesNoRecord)
{
    CUpdateSet item;
    item.m_strName = "Self";
    item.m_bSelfUninstaller = 1;
    Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    int restart = 0;
    EXPECT_TRUE(InstallItem(item, 1, restart));
    EXPECT_EQ("<none>", Record("", "DisplayName"));
}

// The roll back of a first installation unregisters and deletes what it
// placed and registered, except a shared file, which is never deleted.
TEST_F(ItemInstallationTest, AFailedFileRollsTheItemBack)
{
    CUpdateSet item;
    item.m_strName = "Broken";
    Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    CUpdateInfo& shared = Stage(item, "v1004", "ZeltoShared.dll", TEST_CLSID_B, 0, "ZeltoTestCtl2.dll");
    shared.m_bRegister = 0;
    shared.m_bSharedDll = 1;
    Stage(item, "bad", "ZeltoTestCtl2.dll", TEST_CLSID_B, 0, "ZeltoBadReg.dll");   // its registration fails
    int restart = 0;
    EXPECT_FALSE(InstallItem(item, 1, restart));
    EXPECT_FALSE(testutil::FileExists(m_dir + "\\ZeltoTestCtl.dll")) << "the placed first file is removed";
    EXPECT_TRUE(testutil::FileExists(m_dir + "\\ZeltoShared.dll")) << "a shared file stays";
    EXPECT_EQ("<none>", Record("", "DisplayName")) << "a first installation leaves no uninstall entry";
    char server[MAX_PATH] = "";
    EXPECT_FALSE(CUtil::GetInprocServerPath(std::string(TEST_CLSID_A).substr(1, 36).c_str(), server, sizeof(server)))
        << "unregistered before it was deleted: " << server;
}

// DELETEREGCLASS unregisters and deletes an older copy elsewhere before the
// item places its files; an item that then fails puts that copy back and
// registers it again, as a killed run's recovery does from the journal.
TEST_F(ItemInstallationTest, AFailedItemPutsBackWhatDeleteRegClassRemoved)
{
    const std::string old = m_dir + "\\ZeltoOld.dll";
    ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl2.dll").c_str(), old.c_str(), FALSE);
    ASSERT_TRUE(CUtil::RegisterServer(old.c_str()));
    const std::string classB = std::string(TEST_CLSID_B).substr(1, 36);
    CUpdateSet item;
    item.m_strName = "Classes";
    Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1).m_szDeleteRegClass = classB;
    Stage(item, "bad", "ZeltoBad.dll", TEST_CLSID_A, 0, "ZeltoBadReg.dll").m_szClassId.clear();   // fails to register
    int restart = 0;
    EXPECT_FALSE(InstallItem(item, 1, restart));
    char server[MAX_PATH] = "";
    ASSERT_TRUE(CUtil::GetInprocServerPath(classB.c_str(), server, sizeof(server))) << "the class is served again";
    EXPECT_EQ(0, lstrcmpiA(old.c_str(), server)) << server;
    EXPECT_EQ(testutil::ReadWholeFile(testutil::Component("v1004\\ZeltoTestCtl2.dll")), testutil::ReadWholeFile(old));
    CUtil::UnregisterServer(old.c_str());
    ::DeleteFileA(old.c_str());
}

// An item that fails after one of its files was left for the restart (its
// destination held) takes that replacement back and, with nothing else of
// the run pending, the restart it asked for.
TEST_F(ItemInstallationTest, ARolledBackItemTakesBackItsRestart)
{
    const char sessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
    testutil::RegistryValueGuard pending(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations");
    ASSERT_NO_FATAL_FAILURE(InstallOldUpd());
    const std::string first = m_dir + "\\ZeltoTestCtl.dll";
    std::string command = "\"" + testutil::Component("holder\\ZeltoHolder.exe") + "\" \"" + first + "\"";
    STARTUPINFOA si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    zelto::ScopedKernelHandle holder(pi.hProcess), thread(pi.hThread);
    ASSERT_TRUE(testutil::WaitFor([&] { return !IsFileFree(first.c_str()); }, 10000)) << "the holder opened " << first;

    CUpdateSet update;
    update.m_strName = "Upd";
    Stage(update, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1).m_bReboot = 1;   // held: replaced at the restart
    Stage(update, "bad", "ZeltoTestCtl2.dll", TEST_CLSID_B, 0, "ZeltoBadReg.dll");
    int restart = 0;
    EXPECT_FALSE(InstallItem(update, 1, restart));
    EXPECT_EQ(0, restart) << "nothing of the run waits for the restart";
    std::string text(65536, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, sessionManager, ZELTO_KEY_READ) == ERROR_SUCCESS)
        ::RegQueryValueExA(key.get(), "PendingFileRenameOperations", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(&text[0]), &size);
    EXPECT_EQ(std::string::npos, text.find("ZeltoTestCtl.dll")) << "the replacement was taken back";
    ::TerminateProcess(holder.get(), 0);
    ::WaitForSingleObject(holder.get(), 5000);
}

TEST_F(ItemInstallationTest, AFailedUpdatePutsTheItemBackAsItWas)
{
    const std::string first = m_dir + "\\ZeltoTestCtl.dll", second = m_dir + "\\ZeltoTestCtl2.dll";
    int restart = 0;
    ASSERT_NO_FATAL_FAILURE(InstallOldUpd());
    // An old time stamp, so that a restored file can be told from a
    // rewritten one.
    FILETIME old = {0x3B9ACA00u, 0x01C00000u};
    {
        zelto::ScopedFile handle(::CreateFileA(first.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(::SetFileTime(handle.get(), nullptr, nullptr, &old));
    }
    const std::string firstBytes = testutil::ReadWholeFile(first), secondBytes = testutil::ReadWholeFile(second);

    // The update: a newer first control, and a second file whose
    // registration fails.
    CUpdateSet update;
    update.m_strName = "Upd";
    Stage(update, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    Stage(update, "bad", "ZeltoTestCtl2.dll", TEST_CLSID_B, 0, "ZeltoBadReg.dll");
    EXPECT_FALSE(InstallItem(update, 1, restart));

    EXPECT_EQ(firstBytes, testutil::ReadWholeFile(first)) << "the old version is back, byte for byte";
    EXPECT_EQ(secondBytes, testutil::ReadWholeFile(second));
    WIN32_FILE_ATTRIBUTE_DATA facts = {};
    ASSERT_TRUE(::GetFileAttributesExA(first.c_str(), GetFileExInfoStandard, &facts));
    EXPECT_EQ(0, ::CompareFileTime(&old, &facts.ftLastWriteTime)) << "with its time stamp";
    ExpectOldServers();
    EXPECT_EQ("old", Record("\\Upd", "Marker")) << "the old record";
    EXPECT_EQ(first, Record("\\Upd\\ZeltoTestCtl", "FilePath"));
    EXPECT_EQ("ZeltoTestCtl", Record("\\Upd", nullptr));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(CItemRollback::BackupFolder().c_str()))
        << "the copies of the old files are gone";
}

// A file's DELETEREGCLASS removes the server registered for that class
// (unregistered and deleted) before the file is placed; DELETEREGKEY
// removes a key of the roots it names, never a whole root.
// A run killed in the middle of an update never gets to its roll back: the
// next run puts the item back from the journal and the copies alone.
TEST_F(ItemInstallationTest, AKilledUpdateIsPutBackByTheNextRun)
{
    const std::string first = m_dir + "\\ZeltoTestCtl.dll", second = m_dir + "\\ZeltoTestCtl2.dll";
    int restart = 0;
    ASSERT_NO_FATAL_FAILURE(InstallOldUpd());
    const std::string firstBytes = testutil::ReadWholeFile(first), secondBytes = testutil::ReadWholeFile(second);

    // Both files replaced and recorded, a third one created, a value added to
    // the record, and the run killed while the second file's new bytes were
    // written beside it.
    CUpdateSet update;
    update.m_strName = "Upd";
    Stage(update, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
    Stage(update, "v1004", "ZeltoTestCtl2.dll", TEST_CLSID_A, 0, "ZeltoTestCtl.dll");
    Stage(update, "v1004", "ZeltoOld.dll", TEST_CLSID_B, 0, "ZeltoTestCtl2.dll").m_bRegister = 0;
    auto killed = std::make_unique<CItemRollback>(UNINSTALL_KEY, "Upd");
    for (const auto& file : update.m_arrUpdateFile) ASSERT_TRUE(InstallProcess(*file, "Upd", 1, TRUE, restart, killed.get()));
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\Upd").c_str(), "Added", "new");
    killed->Placing(*update.m_arrUpdateFile[1]);
    testutil::WriteWholeFile(second + ".zelto-new", "torn");

    RecoverInterruptedItems();
    EXPECT_EQ(firstBytes, testutil::ReadWholeFile(first)) << "every journalled file is put back";
    EXPECT_EQ(secondBytes, testutil::ReadWholeFile(second));
    EXPECT_FALSE(testutil::FileExists(second + ".zelto-new"));
    EXPECT_FALSE(testutil::FileExists(m_dir + "\\ZeltoOld.dll")) << "what the run created goes";
    ExpectOldServers();
    EXPECT_EQ("old", Record("\\Upd", "Marker")) << "the old record, in the entry that was there before";
    EXPECT_EQ("<none>", Record("\\Upd", "Added"));
    EXPECT_EQ("<none>", Record("\\Upd\\ZeltoOld", "FilePath"));
    EXPECT_EQ("<none>", CUtil::GetProfileString(HKEY_LOCAL_MACHINE, (std::string(kJournalKey) + "\\Upd").c_str(),
                                                "Copies", "<none>"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(CItemRollback::BackupFolder().c_str()));
    killed.reset();   // long after its run would have ended
}

TEST_F(ItemInstallationTest, RegistryTextsRemoveBeforePlacing)
{
    const std::string old = m_dir + "\\ZeltoOld.dll";
    ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl2.dll").c_str(), old.c_str(), FALSE);
    ASSERT_TRUE(CUtil::RegisterServer(old.c_str()));
    CUtil::SetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoDelKey\\a\\b", "v", "1");
    EXPECT_EQ(HKEY_CURRENT_USER, RootOfKeyText("HKEY_CURRENT_USER"));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, RootOfKeyText("HKEY_LOCAL")) << "the first name that begins with it";
    EXPECT_EQ(nullptr, RootOfKeyText(""));
    EXPECT_EQ(nullptr, RootOfKeyText("HKCU"));

    CUpdateSet item;
    item.m_strName = "Keys";
    CUpdateInfo& file = Stage(item, "v1005", "ZeltoTestCtl.dll", TEST_CLSID_A, 0);
    file.m_szDeleteRegKey = "HKEY_CURRENT_USER\\Software\\ZeltoDelKey";
    file.m_szDeleteRegClass = std::string(TEST_CLSID_B).substr(1, 36);
    testutil::TestLog log(1);
    int restart = 0;
    EXPECT_TRUE(InstallProcess(file, "Keys", 1, FALSE, restart));
    char server[MAX_PATH];
    EXPECT_FALSE(CUtil::GetInprocServerPath(file.m_szDeleteRegClass.c_str(), server, sizeof(server))) << server;
    EXPECT_FALSE(testutil::FileExists(old));
    EXPECT_EQ("gone", CUtil::GetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoDelKey\\a\\b", "v", "gone"));

    for (const char* text : {"HKEY_BOGUS\\Software\\x", "\\Software", "HKEY_CURRENT_USER\\"}) {
        CUpdateInfo other;
        other.m_szName = "none.dll";
        other.m_szDestFileName = m_dir + "\\none.dll";
        other.m_szDeleteRegKey = text;
        InstallProcess(other, "Keys", 1, FALSE, restart);
        EXPECT_TRUE(log.Has(std::string("[InstallProcess] DeleteRegKey Failed(") + text + ")")) << text;
    }
    CRegKey software;
    EXPECT_EQ(ERROR_SUCCESS, software.Open(HKEY_CURRENT_USER, "Software")) << "nothing of the root was touched";
}

}  // namespace

namespace {

CSignerPin TestPin(const char* name)
{
    CSignerPin pin;
    pin.spkiSha256 = testutil::ReadWholeFile(testutil::Component(std::string("signers\\") + name + ".spki")).substr(0, 64);
    return pin;
}

}  // namespace

// An item whose executable files must carry a pinned publisher's signature:
// one file signed under another authority refuses the whole item before
// anything of it is placed, registered or recorded; signed as pinned, it installs.
TEST_F(ItemInstallationTest, AnItemIsPlacedOnlyUnderItsPinnedPublishersSignatures)
{
    testutil::TestLog log(2);
    // The item's two controls, staged from the signed variants named.
    auto pinnedItem = [&](CUpdateSet& item, const char* first, const char* second) {
        item.m_strName = "Pinned";
        item.m_arrSignerPin = {TestPin("authority-a")};
        Stage(item, (std::string("signers\\") + first).c_str(), "ZeltoTestCtl.dll", TEST_CLSID_A, 1);
        Stage(item, (std::string("signers\\") + second).c_str(), "ZeltoTestCtl2.dll", TEST_CLSID_B, 0);
        for (auto& file : item.m_arrUpdateFile) file->m_arrSignerPin = item.m_arrSignerPin;
    };
    CUpdateSet item;
    pinnedItem(item, "good", "other");
    int restart = 0;
    RecordLastError(0, 0);
    EXPECT_FALSE(InstallItem(item, 1, restart));
    EXPECT_EQ(static_cast<DWORD>(ERR_SIGNER_NOT_PINNED), LastError.dwAppError);
    EXPECT_EQ(static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), LastError.dwSysError);
    EXPECT_FALSE(testutil::FileExists(m_dir + "\\ZeltoTestCtl.dll")) << "nothing of the item placed, not even its good file";
    EXPECT_FALSE(testutil::FileExists(m_dir + "\\ZeltoTestCtl2.dll"));
    char server[MAX_PATH] = "";
    EXPECT_FALSE(CUtil::GetInprocServerPath(std::string(TEST_CLSID_A).substr(1, 36).c_str(), server, sizeof(server)));
    EXPECT_EQ("<none>", Record("\\Pinned\\ZeltoTestCtl", "FilePath"));
    EXPECT_TRUE(log.Has("[CheckSigner] " + CUtil::GetStagingFolder() +
                        "\\ZeltoTestCtl2.dll refused by the item's SIGNER pins: signer \"QRV Corp.\": "
                        "no certificate of its chain is pinned (0x800b0109)"))
        << log.Contents();

    // Both under the pinned authority (one as a renewed certificate): installed.
    // (The check holds no staged file open: staging them again works.)
    CUpdateSet signedItem;
    pinnedItem(signedItem, "good", "renewed");
    EXPECT_TRUE(InstallItem(signedItem, 1, restart)) << log.Contents();
    EXPECT_TRUE(testutil::FileExists(m_dir + "\\ZeltoTestCtl2.dll"));
}
