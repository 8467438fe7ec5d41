#include "install/Staging.h"

#include "base/LastError.h"
#include "TestUtil.h"
#include "ContentServer.h"
#include "net/HttpRequest.h"
#include "net/HttpUtil.h"
#include "sys/Util.h"

#include <gtest/gtest.h>

namespace {

const char kBase[] = "http://down.zelto.com/zelto/zeltosetup/staging/";

// Records what the worker sends to the progress dialog.
class ProgressRecorder {
public:
    ProgressRecorder()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &ProgressRecorder::Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZeltoTestProgress";
        ::RegisterClassA(&wc);
        m_wnd = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        ::SetWindowLongPtrA(m_wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~ProgressRecorder() { ::DestroyWindow(m_wnd); }
    HWND Window() const { return m_wnd; }
    std::vector<std::pair<UINT, WPARAM>> sent;
    std::vector<std::string> names;
    LRESULT extractAnswer = 0;

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<ProgressRecorder*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
        if (self && (msg == UM_DOWNLOAD_PROGRESS || msg == UM_FILE_DOWNLOADED || msg == UM_EXTRACT_PROGRESS)) {
            if (msg != UM_DOWNLOAD_PROGRESS || wParam != DOWNLOAD_PROGRESS_CHUNK) self->sent.push_back({msg, wParam});
            if (msg == UM_EXTRACT_PROGRESS && wParam == 1) self->names.push_back(reinterpret_cast<const char*>(lParam));
            return msg == UM_EXTRACT_PROGRESS ? self->extractAnswer : 0;
        }
        return ::DefWindowProcA(wnd, msg, wParam, lParam);
    }
    HWND m_wnd;
};

class StagingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running());
        CUtil::InitSystemFolders();
        m_server.ClearRules();
        m_internet = zelto::OpenInternet();
        m_staging = CUtil::GetStagingFolder();
        ASSERT_TRUE(CUtil::PrepareStagingFolder());
        const std::string zips = testutil::ExeFolder() + "\\..\\zip\\data\\";
        m_server.PutFile("down.zelto.com", "/zelto/zeltosetup/staging/ctl.zip", testutil::ReadWholeFile(zips + "deflate.zip"));
        m_server.PutFile("down.zelto.com", "/zelto/zeltosetup/staging/upper.ZIP", testutil::ReadWholeFile(zips + "deflate.zip"));
        m_server.PutFile("down.zelto.com", "/zelto/zeltosetup/staging/empty.zip", testutil::ReadWholeFile(zips + "empty.zip"));
        m_server.PutFile("down.zelto.com", "/zelto/zeltosetup/staging/plain.dll", std::string(5000, 'p'));
        m_server.PutFile("down.zelto.com", "/zelto/zeltosetup/staging/noext", "x");
    }
    void TearDown() override
    {
        for (const char* name : {"ZeltoTestCtl.dll", "ZeltoTestCtl.zip", "plain.dll", "plain.zip", "ctl", "dir\\readme.txt"})
            ::DeleteFileA((m_staging + "\\" + name).c_str());
        ::RemoveDirectoryA((m_staging + "\\dir").c_str());
    }
    CUpdateInfo& File(CUpdateSet& item, const char* name, const std::string& source)
    {
        item.m_arrUpdateFile.push_back(std::make_unique<CUpdateInfo>());
        CUpdateInfo& file = *item.m_arrUpdateFile.back();
        file.m_szName = name;
        file.m_szSource = source;
        return file;
    }

    testutil::ContentServer m_server;
    zelto::ScopedInternet m_internet;
    std::string m_staging;
};

TEST_F(StagingTest, StagedNamesFollowTheUrlsExtension)
{
    CUpdateInfo file;
    file.m_szName = "ZeltoTestCtl.dll";
    // An archive lands under a name of its own, with a folder of its own:
    // one per URL and SHA256, whatever FILE asks for it.
    file.m_szSource = "http://x/zelto/zeltosetup/a.ZIP";
    const std::string archive = StagedPath(file);
    EXPECT_EQ(ArchiveFolder(file) + ".zip", archive);
    EXPECT_EQ(ArchiveFolder(file) + "\\ZeltoTestCtl.dll", UnpackedPath(file));
    CUpdateInfo sibling;
    sibling.m_szName = "Other.dll";
    sibling.m_szSource = "HTTP://X/zelto/zeltosetup/a.zip";
    EXPECT_EQ(archive, StagedPath(sibling)) << "another FILE of the same archive shares it";
    sibling.m_szSha256 = std::string(64, 'a');
    EXPECT_NE(archive, StagedPath(sibling)) << "other published bytes: another archive";
    sibling.m_szSha256.clear();
    sibling.m_szSource = "http://x/zelto/zeltosetup/b.zip";
    EXPECT_NE(archive, StagedPath(sibling)) << "another archive of the same entries";
    file.m_szSource = "http://x/zelto/zeltosetup/a.dll";
    EXPECT_EQ(m_staging + "\\ZeltoTestCtl.dll", StagedPath(file));
    file.m_szSource = "http://x/zelto/zeltosetup/noext";
    EXPECT_EQ(m_staging + "\\ZeltoTestCtl", StagedPath(file));
    file.m_szSourceWin9x = "http://x/zelto/zeltosetup/old.cab";
    EXPECT_EQ(file.m_szSource, DownloadUrl(file)) << "SOURCE_WIN9X only on the Windows 9x family";
}

TEST_F(StagingTest, DownloadsUnpacksAndReports)
{
    CUpdateSet item;
    File(item, "ZeltoTestCtl.dll", std::string(kBase) + "ctl.zip");
    File(item, "plain.dll", std::string(kBase) + "plain.dll");
    CUpdateInfo& staged = File(item, "already.dll", std::string(kBase) + "missing.dll");
    staged.m_bDownloaded = 1;

    EXPECT_GT(GetItemDownloadSize(item, m_internet.get()), 5000u);
    EXPECT_EQ(0u, staged.m_dwDownloadSize) << "an already staged file counts 0";

    ProgressRecorder progress;
    for (auto& file : item.m_arrUpdateFile)
        EXPECT_TRUE(DownloadInstallFiles(*file, m_internet.get(), progress.Window(), nullptr));
    const CUpdateInfo& zipped = *item.m_arrUpdateFile[0];
    const std::string folder = ArchiveFolder(zipped);
    EXPECT_EQ(folder + "\\ZeltoTestCtl.dll", UnpackedPath(zipped));
    EXPECT_EQ(200000u, testutil::ReadWholeFile(folder + "\\ZeltoTestCtl.dll").size()) << "unpacked into its own folder";
    EXPECT_TRUE(testutil::FileExists(folder + "\\dir\\readme.txt")) << "with its stored paths";
    EXPECT_FALSE(testutil::FileExists(m_staging + "\\ZeltoTestCtl.dll")) << "nothing at the top";
    EXPECT_TRUE(testutil::FileExists(StagedPath(zipped))) << "the archive stays until its files are placed";
    RemoveArchiveStaging(zipped);
    EXPECT_FALSE(testutil::FileExists(StagedPath(zipped)));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(folder.c_str()));
    EXPECT_EQ(5000u, testutil::ReadWholeFile(m_staging + "\\plain.dll").size());
    EXPECT_EQ(1, item.m_arrUpdateFile[0]->m_bDownloaded);

    // Per downloaded file: size, then URL; the archive's name and percents.
    std::vector<std::pair<UINT, WPARAM>> expectedStart = {{UM_DOWNLOAD_PROGRESS, 2}, {UM_DOWNLOAD_PROGRESS, 1},
                                                          {UM_EXTRACT_PROGRESS, 1}};
    ASSERT_GE(progress.sent.size(), 5u);
    std::vector<std::pair<UINT, WPARAM>> start(progress.sent.begin(), progress.sent.begin() + 3);
    EXPECT_EQ(expectedStart, start);
    EXPECT_EQ("ZeltoTestCtl.dll", progress.names.at(0));
}

TEST_F(StagingTest, UpperCaseZipUrlIsUnpacked)
{
    CUpdateSet item;
    CUpdateInfo& file = File(item, "ZeltoTestCtl.dll", std::string(kBase) + "upper.ZIP");
    EXPECT_TRUE(DownloadInstallFiles(file, m_internet.get(), nullptr, nullptr));
    EXPECT_EQ(200000u, testutil::ReadWholeFile(UnpackedPath(file)).size());
    RemoveArchiveStaging(file);
}

TEST_F(StagingTest, ArchiveFailures)
{
    CUpdateSet item;
    CUpdateInfo& empty = File(item, "ctl.dll", std::string(kBase) + "empty.zip");
    RecordLastError(0, 0);
    ProgressRecorder progress;
    EXPECT_FALSE(DownloadInstallFiles(empty, m_internet.get(), progress.Window(), nullptr));
    EXPECT_EQ(ERR_EXTRACT, LastError.dwAppError) << "an empty archive fails";
    EXPECT_EQ(0, empty.m_bDownloaded) << "an archive that does not unpack stages nothing";
    EXPECT_FALSE(testutil::FileExists(StagedPath(empty))) << "and is not kept";

    CUpdateInfo& cancelled = File(item, "ZeltoTestCtl.dll", std::string(kBase) + "ctl.zip");
    progress.extractAnswer = -1;   // the dialog's answer once its cancel event is set
    EXPECT_FALSE(DownloadInstallFiles(cancelled, m_internet.get(), progress.Window(), nullptr));
    EXPECT_FALSE(testutil::FileExists(StagedPath(cancelled)));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(ArchiveFolder(cancelled).c_str()));

    CUpdateInfo& same = File(item, "keep.zip", std::string(kBase) + "ctl.zip");
    EXPECT_TRUE(DownloadInstallFiles(same, m_internet.get(), nullptr, nullptr));
    EXPECT_TRUE(testutil::FileExists(m_staging + "\\keep.zip")) << "same extension: never unpacked";
    ::DeleteFileA((m_staging + "\\keep.zip").c_str());
}

TEST_F(StagingTest, ArchiveNamesInUtf8AndCodePage949)
{
    const std::string zips = testutil::ExeFolder() + "\\..\\zip\\data\\";
    const std::string korean = m_staging + "\\\xC7\xD1\xB1\xDB.txt";   // "한글.txt" in code page 949
    for (const char* name : {"utf8.zip", "cp949.zip"}) {
        const std::string archive = m_staging + "\\zelto-names.zip";
        ::CopyFileA((zips + name).c_str(), archive.c_str(), FALSE);
        EXPECT_TRUE(UnpackArchive(archive, m_staging, nullptr, 0)) << name;
        EXPECT_EQ(std::string(name).substr(0, 4), testutil::ReadWholeFile(korean).substr(0, 4)) << name;
        ::DeleteFileA(korean.c_str());
        ::DeleteFileA(archive.c_str());
    }
    // A name code page 949 cannot hold fails the unpack, named in the log.
    const std::string archive = m_staging + "\\zelto-emoji.zip";
    ::CopyFileA((zips + "emoji.zip").c_str(), archive.c_str(), FALSE);
    testutil::TestLog log(1);
    EXPECT_FALSE(UnpackArchive(archive, m_staging, nullptr, 0));
    EXPECT_TRUE(log.Has("an entry name cannot be written in the system's code page"));
    ::DeleteFileA(archive.c_str());
}

TEST_F(StagingTest, NothingIsWrittenThroughALinkedFolder)
{
    // A folder in the staging folder that is a link to somewhere else, as a
    // process without administrator rights could plant it.
    const std::string target = m_staging + "\\zelto-elsewhere", link = m_staging + "\\dir";
    ::CreateDirectoryA(target.c_str(), nullptr);
    ::RemoveDirectoryA(link.c_str());
    ASSERT_TRUE(testutil::PlantLink(link, target));
    ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
              ::GetFileAttributesA(link.c_str()) & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    const std::string archive = m_staging + "\\zelto-linked.zip";
    ::CopyFileA((testutil::ExeFolder() + "\\..\\zip\\data\\deflate.zip").c_str(), archive.c_str(), FALSE);
    EXPECT_FALSE(UnpackArchive(archive, m_staging, nullptr, 0));
    EXPECT_FALSE(testutil::FileExists(target + "\\readme.txt"));
    testutil::RemoveLink(link);
    ::RemoveDirectoryA(target.c_str());
    ::DeleteFileA(archive.c_str());
    ::DeleteFileA((m_staging + "\\ZeltoTestCtl.dll").c_str());
}

TEST_F(StagingTest, TimeStamp)
{
    const std::string path = m_staging + "\\plain.dll";
    testutil::WriteWholeFile(path, "x");
    CUpdateInfo file;
    StampFileTime(file, path);   // no time: untouched
    SYSTEMTIME st = {2020, 1, 0, 2, 3, 4, 5, 0};
    FILETIME ft;
    ::SystemTimeToFileTime(&st, &ft);
    file.m_ftFileTime = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    StampFileTime(file, path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    EXPECT_EQ(ft.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(ft.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);
}

}  // namespace
