#include "install/RunningPrograms.h"

#include "base/LastError.h"
#include "ContentServer.h"
#include "sys/Sha256.h"
#include "sys/Util.h"

#include <gtest/gtest.h>

namespace {

// Each start of the auxiliary program appends "tick|module|command line".
class RunningProgramsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CUtil::InitSystemFolders();
        m_dir = std::string(CUtil::Folders().szProgramFiles) + "\\Zelto Run Test";
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        m_auxLog = testutil::ExeFolder() + "\\program-runs.log";
        ::DeleteFileA(m_auxLog.c_str());
        ::SetEnvironmentVariableA("ZELTO_AUX_LOG", m_auxLog.c_str());
        ::SetEnvironmentVariableA("ZELTO_AUX_SLEEP_MS", nullptr);
        m_server.ClearRules();
        m_server.ClearRequests();
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableA("ZELTO_AUX_SLEEP_MS", nullptr);
        for (const char* name : {"ZeltoAux.exe", "run.exe"}) ::DeleteFileA((m_dir + "\\" + name).c_str());
        ::RemoveDirectoryA(m_dir.c_str());
        ::DeleteFileA(m_auxLog.c_str());
        ::DeleteFileA((CUtil::GetStagingFolder() + "\\ZeltoAux.exe").c_str());
    }
    std::string AuxLog() const { return testutil::ReadWholeFile(m_auxLog); }
    int Runs() const
    {
        std::string log = AuxLog();
        int n = 0;
        for (size_t p = log.find("\r\n"); p != std::string::npos; p = log.find("\r\n", p + 2)) ++n;
        return n;
    }
    std::string PlaceAux(const char* version, const std::string& name = "ZeltoAux.exe")
    {
        std::string target = m_dir + "\\" + name;
        ::CopyFileA(testutil::Component(std::string(version) + "\\ZeltoAux.exe").c_str(), target.c_str(), FALSE);
        return target;
    }
    // A file entry whose auxiliary program is ZeltoAux.exe 1.0.0.3.
    void RunFile(CUpdateInfo& file, const std::string& dest)
    {
        file.m_szRunFileName = "ZeltoAux.exe";
        file.m_szRunSource = "http://down.zelto.com/zelto/zeltosetup/helper/ZeltoAux.exe";
        file.m_szRunDest = dest;
        file.m_szRunParam = "/quiet /mode=x";
        file.m_dwRunVersionMS = 0x00010000;
        file.m_dwRunVersionLS = 0x00000003;
    }
    void PublishAux3()
    {
        m_server.PutFile("down.zelto.com", "/zelto/zeltosetup/helper/ZeltoAux.exe",
                         testutil::ReadWholeFile(testutil::Component("aux3\\ZeltoAux.exe")));
    }

    testutil::ContentServer m_server;
    std::string m_dir, m_auxLog;
};

TEST_F(RunningProgramsTest, ExecuteFileQuotesTheProgramPath)
{
    // A decoy where an unquoted "C:\Program Files\..." path would start first.
    std::string programFiles = CUtil::Folders().szProgramFiles;
    std::string decoy = programFiles.substr(0, programFiles.find(' ')) + ".exe";
    ASSERT_NE(std::string::npos, programFiles.find(' '));
    ::CopyFileA(testutil::Component("aux2\\ZeltoAux.exe").c_str(), decoy.c_str(), FALSE);
    std::string program = PlaceAux("aux3", "run.exe");

    testutil::TestLog log(2);
    EXPECT_TRUE(CUtil::ExecuteFile(program.c_str(), "a b", TRUE));
    ::DeleteFileA(decoy.c_str());
    std::string runs = AuxLog();
    EXPECT_NE(std::string::npos, runs.find("|" + program + "|\"" + program + "\" a b\r\n")) << runs;
    EXPECT_EQ(1, Runs()) << "the decoy never ran";
    EXPECT_TRUE(log.Has("[ExecuteFile] Call CreateProcess(\"" + program + "\" a b)"));
    EXPECT_TRUE(log.Has("[ExecuteFile] CreateProcess(" + program + ") Success"));

    EXPECT_FALSE(CUtil::ExecuteFile((m_dir + "\\missing.exe").c_str(), nullptr, TRUE));
    EXPECT_TRUE(log.Has("[ExecuteFile] CreateProcess(" + m_dir + "\\missing.exe) Failed (Error Code = "));
}

TEST_F(RunningProgramsTest, ExecuteFileWaitsOnlyWhenAsked)
{
    std::string program = PlaceAux("aux3", "run.exe");
    ::SetEnvironmentVariableA("ZELTO_AUX_SLEEP_MS", "1500");
    ULONGLONG start = ::GetTickCount64();
    EXPECT_TRUE(CUtil::ExecuteFile(program.c_str(), "", FALSE));
    EXPECT_LT(::GetTickCount64() - start, 1000u) << "returned without waiting";
    EXPECT_TRUE(testutil::WaitFor([&] { return Runs() == 1; }, 10000));

    EXPECT_TRUE(CUtil::ExecuteFile(program.c_str(), nullptr, TRUE));
    EXPECT_EQ(2, Runs()) << "the run has ended when the call returns";
    testutil::WaitFor([&] { return ::DeleteFileA(program.c_str()) != 0; }, 10000);
}

TEST_F(RunningProgramsTest, RunFileWithoutProgramIsNothingToDo)
{
    CUpdateInfo file;
    EXPECT_TRUE(RunFileAndWait(file));
    file.m_szRunFileName = "ZeltoAux.exe";
    EXPECT_TRUE(RunFileAndWait(file)) << "no run source";
    EXPECT_EQ(0, Runs());
}

TEST_F(RunningProgramsTest, CurrentLocalCopyRunsInPlace)
{
    std::string local = PlaceAux("aux3");
    CUpdateInfo file;
    RunFile(file, m_dir);
    testutil::TestLog log(2);
    EXPECT_TRUE(RunFileAndWait(file));
    EXPECT_EQ(1, Runs());
    EXPECT_NE(std::string::npos, AuxLog().find("\"" + local + "\" /quiet /mode=x"));
    EXPECT_TRUE(m_server.Requests().empty()) << "nothing downloaded";
    EXPECT_TRUE(log.Has("[RunFileAndWait] Do not need update (" + local + ")"));
    EXPECT_TRUE(testutil::FileExists(local)) << "kept: it has a run destination";

    // The high half of a version decides first: 0.9.9.9 is older than 1.0.0.3.
    file.m_dwRunVersionMS = 0x00000009;
    file.m_dwRunVersionLS = 0x00090009;
    EXPECT_TRUE(RunFileAndWait(file));
    EXPECT_TRUE(m_server.Requests().empty()) << "still nothing downloaded";
}

TEST_F(RunningProgramsTest, OnlyTheProgramOfTheHashRuns)
{
    // A current-looking copy with other bytes than RUNSHA256 (planted in a
    // writable folder, say) is not run; the download has other bytes too, so
    // nothing runs at all.
    PlaceAux("aux3");
    PublishAux3();
    CUpdateInfo file;
    RunFile(file, m_dir);
    file.m_szRunSha256 = CSha256::OfFile(testutil::Component("aux2\\ZeltoAux.exe").c_str());
    EXPECT_FALSE(RunFileAndWait(file));
    EXPECT_EQ(0, Runs()) << "never started";
    // The present copy was not trusted; the download, which a cache may
    // answer, was asked once more past every cache before giving up.
    const std::vector<std::string> requests = m_server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("", testutil::ContentServer::Field(requests[0], "cache_control"));
    EXPECT_EQ("no-cache", testutil::ContentServer::Field(requests[1], "cache_control"));
    EXPECT_EQ(ERR_HASH_MISMATCH, LastError.dwAppError);

    // With the right hash the present copy runs in place.
    m_server.ClearRequests();
    PlaceAux("aux3");
    file.m_szRunSha256 = CSha256::OfFile(testutil::Component("aux3\\ZeltoAux.exe").c_str());
    EXPECT_TRUE(RunFileAndWait(file));
    EXPECT_EQ(1, Runs());
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(RunningProgramsTest, OlderLocalCopyIsDownloadedFirst)
{
    std::string local = PlaceAux("aux2");
    PublishAux3();
    CUpdateInfo file;
    RunFile(file, m_dir);
    testutil::TestLog log(2);
    EXPECT_TRUE(RunFileAndWait(file));
    EXPECT_EQ(1, Runs());
    ASSERT_EQ(1u, m_server.RequestedUrls().size());
    DWORD high = 0, low = 0;
    CUtil::GetFileVersion(local.c_str(), &high, &low);
    EXPECT_EQ(3u, low) << "the newer program replaced the older one";
    EXPECT_TRUE(log.Has("[RunFileAndWait] FileVersion (" + local + ") (U:65536:3) != (L:65536:2)")) << log.Contents();
    EXPECT_TRUE(log.Has("[RunFileAndWait] Download File http://down.zelto.com/zelto/zeltosetup/helper/ZeltoAux.exe -> " + local));
}

TEST_F(RunningProgramsTest, NoRunDestinationFetchesIntoStagingAndDeletes)
{
    PublishAux3();
    CUpdateInfo file;
    RunFile(file, "");
    EXPECT_TRUE(RunFileAndWait(file));
    const std::string staged = CUtil::GetStagingFolder() + "\\ZeltoAux.exe";
    EXPECT_NE(std::string::npos, AuxLog().find("\"" + staged + "\" /quiet"));
    EXPECT_FALSE(testutil::FileExists(staged)) << "deleted after it ran";
}

TEST_F(RunningProgramsTest, FailedDownloadFailsTheFile)
{
    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/helper/ZeltoAux.exe": {"status": 404}})");
    CUpdateInfo file;
    RunFile(file, m_dir);
    testutil::TestLog log(1);
    EXPECT_FALSE(RunFileAndWait(file));
    EXPECT_EQ(0, Runs());
    EXPECT_TRUE(log.Has("[RunFileAndWait] DownloadFile(http://down.zelto.com/zelto/zeltosetup/helper/ZeltoAux.exe) Failed"));
}

TEST_F(RunningProgramsTest, ExecuteOptions)
{
    CUpdateInfo file;
    file.m_szDestFileName = PlaceAux("aux3", "run.exe");
    file.m_szParam = "/x";
    testutil::TestLog log(2);

    file.m_nExecute = 0;
    ExecuteDownloadedFile(file);
    EXPECT_EQ(0, Runs());

    file.m_nExecute = 1;   // run, no wait
    ExecuteDownloadedFile(file);
    EXPECT_TRUE(testutil::WaitFor([&] { return Runs() == 1; }, 10000));

    file.m_nExecute = 3;   // run and wait
    ExecuteDownloadedFile(file);
    EXPECT_EQ(2, Runs());
    EXPECT_TRUE(testutil::FileExists(file.m_szDestFileName));

    file.m_nExecute = 7;   // run, wait, delete
    ExecuteDownloadedFile(file);
    EXPECT_EQ(3, Runs());
    EXPECT_FALSE(testutil::FileExists(file.m_szDestFileName));
    EXPECT_TRUE(log.Has("[ExecuteDownloadedFile] DeleteFile Success(" + file.m_szDestFileName + ")"));

    // Run without waiting, delete at once: the running program holds the file.
    file.m_szDestFileName = PlaceAux("aux3", "run.exe");
    ::SetEnvironmentVariableA("ZELTO_AUX_SLEEP_MS", "2000");
    file.m_nExecute = 5;
    ExecuteDownloadedFile(file);
    EXPECT_TRUE(log.Has("[ExecuteDownloadedFile] DeleteFile Failed, Error Code = ")) << log.Contents();
    EXPECT_TRUE(testutil::FileExists(file.m_szDestFileName)) << "the failure is only logged";
    EXPECT_TRUE(testutil::WaitFor([&] { return ::DeleteFileA(file.m_szDestFileName.c_str()) != 0; }, 15000));
}

}  // namespace
