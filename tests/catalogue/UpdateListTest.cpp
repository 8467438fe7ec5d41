#include "catalogue/UpdateInfoMgr.h"

#include "catalogue/ItemPresence.h"

#include "sys/RegKey.h"
#include "sys/Util.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <vector>

namespace {

const char kKey[] = "Software\\ZeltoCatalogueTest";

class UpdateListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        CUpdateInfoMgr::DeleteInstance();
        CUtil::InitSystemFolders();
        m_dest = CUtil::GetStagingFolder() + "\\zelto list";
        Clean();
    }
    void TearDown() override
    {
        Clean();
        CUpdateInfoMgr::DeleteInstance();
        ::CoUninitialize();
    }
    void Clean()
    {
        CRegKey software;
        if (software.Open(HKEY_CURRENT_USER, "Software") == ERROR_SUCCESS) software.RecurseDeleteKey("ZeltoCatalogueTest");
        ::DeleteFileA((m_dest + "\\ZeltoTestCtl.dll").c_str());
        ::RemoveDirectoryA(m_dest.c_str());
    }
    // Reads the first UPDATEITEM of a document into a new item.
    std::unique_ptr<CUpdateSet> Read(const std::string& itemXml)
    {
        m_doc.load_string(itemXml.c_str());
        auto item = std::make_unique<CUpdateSet>();
        item->ReadUpdateItem(m_doc.child("UPDATEITEM"));
        return item;
    }
    std::string File(const std::string& name, const std::string& extra = "")
    {
        return "<FILE NAME=\"" + name + "\"><SOURCE>http://down.zelto.com/zelto/zeltosetup/" + name +
               "</SOURCE><DEST>" + m_dest + "</DEST>" + extra + "</FILE>";
    }

    pugi::xml_document m_doc;
    std::string m_dest;
};

TEST_F(UpdateListTest, ModesMatchIgnoringCase)
{
    pugi::xml_document doc;
    doc.load_string("<UPDATEITEM><MODE NAME='Other'/><MODE NAME='ZeltoSetup'/><MODE/></UPDATEITEM>");
    EXPECT_TRUE(IsModeMatch(doc.child("UPDATEITEM"), "zeltosetup"));
    EXPECT_FALSE(IsModeMatch(doc.child("UPDATEITEM"), "cafe"));
    doc.load_string("<UPDATEITEM NAME='none'/>");
    EXPECT_FALSE(IsModeMatch(doc.child("UPDATEITEM"), "zeltosetup")) << "no MODE: no mode";
}

TEST_F(UpdateListTest, FileEntries)
{
    for (const char* stray : {"ZeltoRelative", "\\ZeltoRoot"}) ::RemoveDirectoryA(stray);   // a broken build's
    testutil::TestLog log(2);
    auto item = Read("<UPDATEITEM NAME='Ctl' SELFUNINSTALLER='1'>" +
                     File("a.dll", "<VERSION>2, 5, 0, 7</VERSION><FILESIZE>1000</FILESIZE><REGISTER>true</REGISTER>"
                                   "<REBOOT>1</REBOOT><EXECUTE>3</EXECUTE><PARAM>/s</PARAM><CLASSID>1-2</CLASSID>"
                                   "<RUNFILE NAME='setup.exe'><RUNSOURCE>http://down.zelto.com/zelto/zeltosetup/setup.exe"
                                   "</RUNSOURCE><RUNDEST>[SYSTEM]</RUNDEST><RUNPARAM>-q</RUNPARAM>"
                                   "<RUNVERSION>1,0,0,2</RUNVERSION></RUNFILE>") +
                     File("A.DLL") +                                   // a duplicate in another case
                     "<FILE NAME='nosource.dll'><DEST>[SYSTEM]</DEST></FILE>"
                     "<FILE NAME='nodest.dll'><SOURCE>x</SOURCE></FILE>"
                     "<FILE NAME='..\\evil.dll'><SOURCE>x</SOURCE><DEST>[SYSTEM]</DEST></FILE>"
                     "<FILE NAME='rel.dll'><SOURCE>x</SOURCE><DEST>ZeltoRelative</DEST></FILE>"
                     "<FILE NAME='root.dll'><SOURCE>x</SOURCE><DEST>\\ZeltoRoot</DEST></FILE>"
                     "<FILE NAME='run.dll'><SOURCE>x</SOURCE><DEST>[SYSTEM]</DEST>"
                     "<RUNFILE NAME='r.exe'><RUNDEST>[OSVERSION]</RUNDEST></RUNFILE></FILE>" +
                     File(".dll") +                                    // no record key of its own
                     File("..") + File("a.dll:hidden") +                // the folder above, a stream
                     File("bad.dll", "<SHA256>not a digest</SHA256>") + File("b.ocx") +
                     File("c.dll", "<RUNFILE NAME='..\\r.exe'><RUNSOURCE>x</RUNSOURCE></RUNFILE>") + "</UPDATEITEM>");
    EXPECT_EQ("Ctl", item->m_strName);
    EXPECT_EQ(1, item->m_bSelfUninstaller);
    ASSERT_EQ(3u, item->m_arrUpdateFile.size());
    const CUpdateInfo& a = *item->m_arrUpdateFile[0];
    EXPECT_EQ(m_dest + "\\a.dll", a.m_szDestFileName);
    EXPECT_TRUE(testutil::FileExists(m_dest)) << "the destination folder is created";
    EXPECT_EQ(131077u, a.m_dwVersionMS);
    EXPECT_EQ(7u, a.m_dwVersionLS);
    EXPECT_EQ(1000u, a.m_dwFileSize);
    EXPECT_EQ(0, a.m_bRegister) << "only the text 1 sets a flag";
    EXPECT_EQ(1, a.m_bReboot);
    EXPECT_EQ(3, a.m_nExecute);
    EXPECT_EQ("/s", a.m_szParam);
    EXPECT_EQ("1-2", a.m_szClassId);
    EXPECT_EQ(0u, a.m_ftFileTime);
    EXPECT_EQ("setup.exe", a.m_szRunFileName);
    EXPECT_EQ(std::string(CUtil::Folders().szSystem), a.m_szRunDest) << "expanded, trailing backslash dropped";
    EXPECT_EQ("-q", a.m_szRunParam);
    EXPECT_EQ(2u, a.m_dwRunVersionLS);
    EXPECT_EQ("b.ocx", item->m_arrUpdateFile[1]->m_szName);
    EXPECT_EQ("", item->m_arrUpdateFile[2]->m_szRunFileName) << "an auxiliary program named outside its folder";

    // Each refusal named in the log. Destinations are named in full only: a
    // relative one would follow the working folder, one without a drive the
    // drive's root.
    for (const std::string& line : std::vector<std::string>{
             "[CreateUpdateList] already exist In update array(A.DLL)",
             "[GetUpdateInfo] Source do not exist (FileName = nosource.dll)",
             "[CreateUpdateList] GetUpdateInfo Failed (Ctl, nosource.dll)",
             "[GetUpdateInfo] Dest do not exist (FileName = nodest.dll)",
             "[GetUpdateInfo] Invalid Name (FileName = ..\\evil.dll)",
             "[GetUpdateInfo] Invalid Name (FileName = .dll)",
             "[GetUpdateInfo] Invalid Name (FileName = ..)",
             "[GetUpdateInfo] Invalid Name (FileName = a.dll:hidden)",
             "[GetUpdateInfo] Invalid SHA256 (FileName = bad.dll)",
             "[ParseRunFileElement] Invalid Name (RunFile = ..\\r.exe)",
             "[GetUpdateInfo] Invalid Dest ZeltoRelative: not a full path (FileName = rel.dll)",
             "[GetUpdateInfo] Invalid Dest \\ZeltoRoot: not a full path (FileName = root.dll)",
             "[GetUpdateInfo] Invalid RunDest " + std::string(CUtil::Folders().szOSVersion) +
                 ": not a full path (FileName = run.dll)",
             "[GetUpdateInfo] Version = 2, 5, 0, 7 (FileName = a.dll)",
             "[GetUpdateInfo] ExecuteParam = /s (FileName  = a.dll)"})
        EXPECT_TRUE(log.Has(line)) << line;
    EXPECT_FALSE(testutil::FileExists("ZeltoRelative")) << "no folder made where the program was started";
    EXPECT_FALSE(testutil::FileExists("\\ZeltoRoot"));
}

TEST_F(UpdateListTest, PatchesAreReadOnlyWhereTheirResultCanBeChecked)
{
    testutil::TestLog log(2);
    const std::string h1(64, 'a'), h2(64, 'B'), h3(64, 'c');
    auto patch = [](const std::string& from, const std::string& size, const std::string& sha, const std::string& url) {
        return "<PATCH FROM='" + from + "' SIZE='" + size + "' SHA256='" + sha + "'>" + url + "</PATCH>";
    };
    const std::string url = "http://down.zelto.com/zelto/zeltosetup/p/x.zst";
    std::string many;
    for (int i = 0; i < 20; ++i) many += patch(h1, "10", h2, url);
    auto item = Read("<UPDATEITEM NAME='P'>" +
                     File("plain.dll", "<FILESIZE>5000</FILESIZE><SHA256>" + h3 + "</SHA256>" + patch(h1, "99", h2, url) +
                                       patch("short", "99", h2, url) + patch(h1, "0", h2, url) + patch(h1, "9", h2, "") +
                                       patch(h1, "5000", h2, url + "big") +   // no smaller than the file
                                       patch(h2, "7", h1, url + "2")) +
                     File("nosize.dll", "<SHA256>" + h3 + "</SHA256>" + patch(h1, "99", h2, url)) +
                     "<FILE NAME='inzip.dat'><SOURCE>http://down.zelto.com/zelto/zeltosetup/a.zip</SOURCE><DEST>" +
                     m_dest + "</DEST><FILESIZE>5000</FILESIZE><SHA256>" + h3 + "</SHA256>" + patch(h1, "99", h2, url) +
                     "</FILE><FILE NAME='inzip2.dat'><SOURCE>http://down.zelto.com/zelto/zeltosetup/a.zip</SOURCE><DEST>" +
                     m_dest + "</DEST><FILESIZE>5000</FILESIZE><FILESHA256>" + h1 + "</FILESHA256><SHA256>" + h3 +
                     "</SHA256>" + many + "</FILE></UPDATEITEM>");
    ASSERT_EQ(4u, item->m_arrUpdateFile.size());
    const CUpdateInfo& plain = *item->m_arrUpdateFile[0];
    ASSERT_EQ(2u, plain.m_arrPatch.size()) << "the malformed ones are passed over, the file stays";
    EXPECT_EQ(h1, plain.m_arrPatch[0].from);
    EXPECT_EQ(99u, plain.m_arrPatch[0].size);
    EXPECT_EQ(h2, plain.m_arrPatch[0].sha256);
    EXPECT_EQ(url, plain.m_arrPatch[0].url);
    EXPECT_EQ(url + "2", plain.m_arrPatch[1].url);
    EXPECT_TRUE(item->m_arrUpdateFile[1]->m_arrPatch.empty()) << "no FILESIZE: nothing to check a result by";
    EXPECT_TRUE(item->m_arrUpdateFile[2]->m_arrPatch.empty()) << "a file from an archive needs its own FILESHA256";
    EXPECT_EQ(kMaxPatchesPerFile, item->m_arrUpdateFile[3]->m_arrPatch.size());
    EXPECT_TRUE(log.Has("[GetUpdateInfo] Invalid PATCH, ignored (FileName = plain.dll)"));
}

TEST_F(UpdateListTest, DescriptionTagsAndPublisher)
{
    testutil::TestLog log(2);
    auto item = Read("<UPDATEITEM NAME='x'><DESCRIPTION>first</DESCRIPTION><DESCRIPTION>\xBC\xB3\xB8\xED</DESCRIPTION>"
                     "<LOG NAME='cafe'>http://a/1</LOG><LOG NAME='cafe'>http://a/2</LOG><LOG NAME='blog'/>"
                     "<PUBLISHER NAME='P1'/><PUBLISHER NAME='QRV'/></UPDATEITEM>");
    EXPECT_EQ("\xBC\xB3\xB8\xED", item->m_strDescription) << "the last one counts";
    EXPECT_EQ("http://a/2", item->GetStatisticsTag("cafe"));
    EXPECT_EQ("", item->GetStatisticsTag("CAFE")) << "service names are case-sensitive";
    EXPECT_EQ("", item->GetStatisticsTag("blog"));
    EXPECT_EQ("QRV", item->m_strPublisher);
    EXPECT_TRUE(log.Has("[CreateUpdateList] MODULE DESCRIPTION: [\xBC\xB3\xB8\xED]"));
    EXPECT_TRUE(log.Has("[CreateUpdateList] Service Name = [cafe], RD Tag : [http://a/2]"));
    EXPECT_TRUE(log.Has("[CreateUpdateList] MODULE PUBLISHER NAME: [QRV]"));
}

// SIGNER pins reach every file of their item, wherever they stand among
// its FILEs; a pin that is no SHA-256 is kept, so that it matches nothing
// and the item's executable files are refused rather than left unchecked.
TEST_F(UpdateListTest, SignerPinsReachEveryFileOfTheirItem)
{
    testutil::TestLog log(2);
    const std::string a(64, 'A'), b(64, 'b');
    auto item = Read("<UPDATEITEM NAME='S'>" + File("a.dll") + "<SIGNER SPKISHA256='" + a +
                     "' SUBJECT='QRV Corp.'/>" + File("b.ocx") + "<SIGNER SPKISHA256='" + b + "'/></UPDATEITEM>");
    ASSERT_EQ(2u, item->m_arrUpdateFile.size());
    for (const auto& file : item->m_arrUpdateFile) {
        ASSERT_EQ(2u, file->m_arrSignerPin.size()) << file->m_szName;
        EXPECT_EQ(std::string(64, 'a'), file->m_arrSignerPin[0].spkiSha256) << "lower case";
        EXPECT_EQ("QRV Corp.", file->m_arrSignerPin[0].subject);
        EXPECT_EQ(b, file->m_arrSignerPin[1].spkiSha256);
        EXPECT_EQ("", file->m_arrSignerPin[1].subject);
    }
    auto broken = Read("<UPDATEITEM NAME='T'>" + File("a.dll") + "<SIGNER SPKISHA256='abc'/></UPDATEITEM>");
    ASSERT_EQ(1u, broken->m_arrUpdateFile.size());
    EXPECT_EQ(1u, broken->m_arrUpdateFile[0]->m_arrSignerPin.size()) << "kept, matching nothing";
    EXPECT_TRUE(log.Has("[CreateUpdateList] T: Invalid SIGNER (abc): its executable files will be refused"));
    // Without SIGNER, nothing is pinned (older catalogues behave as before).
    EXPECT_TRUE(Read("<UPDATEITEM NAME='U'>" + File("a.dll") + "</UPDATEITEM>")->m_arrUpdateFile[0]->m_arrSignerPin.empty());
}

// Whether an item is on the machine is its record, not a file at one of its
// destinations (another item's shared file, or one a user put there); a held
// item that is recorded makes the run an update all the same.
TEST_F(UpdateListTest, AnItemIsPresentByItsRecord)
{
    const std::string records = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZeltoSetup";
    const std::string item = "<UPDATEITEM NAME='PresenceTest'><ROLLOUT PERCENT='x'/>" + File("ZeltoTestCtl.dll") +
                             "</UPDATEITEM>";
    CUtil::CreateRecursiveDirectory(m_dest.c_str());
    ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), (m_dest + "\\ZeltoTestCtl.dll").c_str(), FALSE);
    m_doc.load_string(item.c_str());
    EXPECT_FALSE(IsItemInstalled(m_doc.child("UPDATEITEM"), "PresenceTest")) << "a file alone is no presence";
    auto held = Read(item);
    EXPECT_TRUE(held->m_bHeld);
    EXPECT_EQ(0, CUpdateInfoMgr::GetInstance()->GetUpdateMode());

    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, (records + "\\PresenceTest").c_str()));
    key.Close();
    m_doc.load_string(item.c_str());
    EXPECT_TRUE(IsItemInstalled(m_doc.child("UPDATEITEM"), "PresenceTest"));
    held = Read(item);
    EXPECT_TRUE(held->m_bHeld && held->m_arrUpdateFile.empty());
    EXPECT_EQ(1, CUpdateInfoMgr::GetInstance()->GetUpdateMode()) << "a recorded held item makes the run an update";
    CRegKey parent;
    if (parent.Open(HKEY_LOCAL_MACHINE, records.c_str()) == ERROR_SUCCESS) parent.RecurseDeleteKey("PresenceTest");
}

TEST_F(UpdateListTest, RegistryElementsApplyAtOnce)
{
    testutil::TestLog log(1);
    std::string k = kKey;
    Read("<UPDATEITEM>"
         "<ADDREG TYPE='DWORD'><ROOT>hkcu</ROOT><KEY>" + k + "\\a</KEY><VALUE_NAME>n</VALUE_NAME><VALUE>12ab</VALUE></ADDREG>"
         "<ADDREG TYPE='string'><ROOT>HKCU</ROOT><KEY>" + k + "\\a</KEY><VALUE_NAME>s</VALUE_NAME><VALUE>text</VALUE></ADDREG>"
         "<ADDREG TYPE='string'><ROOT>HKCU</ROOT><KEY>" + k + "\\a</KEY><VALUE_NAME>empty</VALUE_NAME></ADDREG>"
         "<ADDREG TYPE='binary'><ROOT>HKCU</ROOT><KEY>" + k + "\\bad</KEY></ADDREG>"
         "<ADDREG TYPE='string'><ROOT>HKU</ROOT><KEY>" + k + "\\bad</KEY></ADDREG>"
         "<ADDREG TYPE='string'><ROOT>HKCU</ROOT><KEY>" + k + "\\tree\\x\\y</KEY><VALUE_NAME>v</VALUE_NAME><VALUE>1</VALUE></ADDREG>"
         "<DELREG><ROOT>HKCU</ROOT><KEY>" + k + "\\tree</KEY></DELREG>"
         "<DELREG><ROOT>HKCU</ROOT><KEY>" + k + "\\a</KEY><VALUE_NAME>s</VALUE_NAME></DELREG>"
         "<DELREG><ROOT>HKCU</ROOT></DELREG>"
         "<DELREG><ROOT>HKCU</ROOT><KEY>\\</KEY></DELREG>"
         "<DELREG><ROOT>hkxx</ROOT><KEY>" + k + "</KEY></DELREG>"
         "</UPDATEITEM>");
    EXPECT_EQ(12u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, (k + "\\a").c_str(), "n", 0));
    EXPECT_EQ("gone", CUtil::GetProfileString(HKEY_CURRENT_USER, (k + "\\a").c_str(), "s", "gone"));
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, (k + "\\a").c_str()));
    DWORD type = 0, size = 99;
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExA(key.get(), "empty", nullptr, &type, nullptr, &size));
    EXPECT_EQ(0u, size) << "no VALUE: written with no data";
    EXPECT_NE(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, (k + "\\tree").c_str())) << "the whole tree is removed";
    EXPECT_NE(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, (k + "\\bad").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, "Software")) << "a DELREG without a key removes nothing";
    EXPECT_TRUE(log.Has("[AddRegistry] Invalid Type"));
    EXPECT_TRUE(log.Has("[AddRegistry] Invalid Root"));
    EXPECT_TRUE(log.Has("[DeleteRegistry] Invalid Root"));
    EXPECT_TRUE(log.Has("[DeleteRegistry] Invalid Key"));
}

TEST_F(UpdateListTest, PresentLoadableMainFileMakesAnUpdateRun)
{
    CUtil::CreateRecursiveDirectory(m_dest.c_str());
    std::string dll = m_dest + "\\ZeltoTestCtl.dll";
    ::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), dll.c_str(), FALSE);
    std::string clsid(TEST_CLSID_A);
    clsid = clsid.substr(1, clsid.size() - 2);
    std::string file = File("ZeltoTestCtl.dll", "<CLASSID>" + clsid + "</CLASSID><MAINFILE>1</MAINFILE>");

    // The class of the test component is not registered (an earlier demo
    // run may have registered its installed copy).
    CRegKey classes;
    if (classes.Open(HKEY_CLASSES_ROOT, "CLSID") == ERROR_SUCCESS) classes.RecurseDeleteKey(TEST_CLSID_A);
    Read("<UPDATEITEM NAME='Main'>" + file + "</UPDATEITEM>");
    EXPECT_EQ(0, CUpdateInfoMgr::GetInstance()->GetUpdateMode()) << "present but not registered";

    // Without a record, the main control registered and loadable.
    CUtil::RegisterServer(dll.c_str());
    Read("<UPDATEITEM NAME='Main'>" + file + "</UPDATEITEM>");
    EXPECT_EQ(1, CUpdateInfoMgr::GetInstance()->GetUpdateMode());
    CUtil::UnregisterServer(dll.c_str());
    ::CoFreeUnusedLibraries();
}

}  // namespace
