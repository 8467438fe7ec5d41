#include "net/HttpUtil.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "base/Text.h"
#include "ContentServer.h"
#include "net/HttpRequest.h"
#include "sys/Sha256.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

const char kHost[] = "down.zelto.com";
const char kBase[] = "http://down.zelto.com/zelto/zeltosetup/";

std::string Pattern(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + 3);
    return data;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running()) << "the content server is not running";
        m_server.ClearRules();
        m_server.ClearRequests();
        m_internet = zelto::OpenInternet();
        ASSERT_TRUE(m_internet);
        m_local = testutil::ExeFolder() + "\\download.bin";
        ::DeleteFileA(m_local.c_str());
        RecordLastError(0, 0);
    }
    void TearDown() override
    {
        m_server.ClearRules();
        ::DeleteFileA(m_local.c_str());
    }
    BOOL Download(const std::string& url, HWND progress = nullptr, HANDLE cancel = nullptr)
    {
        return CHttpUtil::DownloadFile(m_internet.get(), m_local.c_str(), url.c_str(), TRUE, progress, cancel);
    }
    std::string Log() const { return m_log.Contents(); }

    testutil::ContentServer m_server;
    zelto::ScopedInternet m_internet;
    std::string m_local;
    testutil::TestLog m_log{2};
};

TEST_F(DownloadTest, WholeFileWithAgentAndProgressSummingToItsSize)
{
    const std::string data = Pattern(50000);
    m_server.PutFile(kHost, "/zelto/zeltosetup/whole.bin", data);
    HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);

    ASSERT_TRUE(Download(std::string(kBase) + "whole.bin", window));
    EXPECT_EQ(data, testutil::ReadWholeFile(m_local));

    DWORD total = 0;
    int posts = 0;
    MSG msg;
    while (::PeekMessageA(&msg, window, UM_DOWNLOAD_PROGRESS, UM_DOWNLOAD_PROGRESS, PM_REMOVE)) {
        EXPECT_EQ(DOWNLOAD_PROGRESS_CHUNK, msg.wParam);
        EXPECT_GT(msg.lParam, 0) << "the bytes since the last post, never a running total";
        total += static_cast<DWORD>(msg.lParam);
        ++posts;
    }
    ::DestroyWindow(window);
    EXPECT_EQ(data.size(), total);
    EXPECT_GE(posts, 1);

    auto requests = m_server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("ZeltoOmbrix/1.0.1.31", testutil::ContentServer::Field(requests[0], "user_agent"));
    EXPECT_EQ("", testutil::ContentServer::Field(requests[0], "referer")) << "downloads send no referer";
    // Past a proxy's cache too: an old catalogue or file is never taken.
    EXPECT_EQ("no-cache", testutil::ContentServer::Field(requests[0], "cache_control"));
    EXPECT_EQ("no-cache", testutil::ContentServer::Field(requests[0], "pragma"));
    EXPECT_EQ(std::string(kBase) + "whole.bin", testutil::ContentServer::Field(requests[0], "url"));
}

TEST_F(DownloadTest, StatusFailuresCreateNoFile)
{
    m_server.ClearRequests();
    EXPECT_FALSE(Download(std::string(kBase) + "missing.bin"));
    EXPECT_EQ(ERR_HTTP_STATUS, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local));
    EXPECT_EQ(1u, m_server.RequestedUrls().size()) << "only an error of the server's own (5xx) is tried again";
    EXPECT_NE(std::string::npos,
              Log().find("[ZeltoSetup][DownloadFile] HttpQueryInfo(http://down.zelto.com/zelto/zeltosetup/missing.bin) = 404 \r\n"));

    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/moved.bin": {"status": 302}})");
    RecordLastError(0, 0);
    EXPECT_FALSE(Download(std::string(kBase) + "moved.bin")) << "a 302 without a place to go";
    EXPECT_EQ(ERR_HTTP_STATUS, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local));
}

TEST_F(DownloadTest, UntrustedUrlNeverLeavesTheMachine)
{
    EXPECT_FALSE(Download("http://evil.example/zelto/zeltosetup/a.dll"));
    EXPECT_EQ(ERR_UNTRUSTED_URL, LastError.dwAppError);
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_NE(std::string::npos,
              Log().find("[DownloadFile] CheckDownloadURL(http://evil.example/zelto/zeltosetup/a.dll) Failed"));
}

TEST_F(DownloadTest, RedirectsAreFollowedOnlyToTrustedPlaces)
{
    const std::string data = Pattern(3000);
    m_server.PutFile("cdn.zelto.com", "/zelto/zeltosetup/target.bin", data);
    m_server.PutFile("evil.example", "/zelto/zeltosetup/target.bin", "evil");
    m_server.SetRules(R"({
        "down.zelto.com/zelto/zeltosetup/good.bin": {"redirect": "http://cdn.zelto.com/zelto/zeltosetup/target.bin"},
        "down.zelto.com/zelto/zeltosetup/bad.bin": {"redirect": "http://evil.example/zelto/zeltosetup/target.bin"}})");

    ASSERT_TRUE(Download(std::string(kBase) + "good.bin"));
    EXPECT_EQ(data, testutil::ReadWholeFile(m_local));

    ::DeleteFileA(m_local.c_str());
    EXPECT_FALSE(Download(std::string(kBase) + "bad.bin"));
    EXPECT_EQ(ERR_UNTRUSTED_URL, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local)) << "nothing is written";
    EXPECT_NE(std::string::npos,
              Log().find("[DownloadFile] CheckDownloadURL(http://evil.example/zelto/zeltosetup/target.bin) Failed"));
}

TEST_F(DownloadTest, BodyWithoutLengthIsCompleteWhenReadToTheEnd)
{
    const std::string data = Pattern(20000);
    m_server.PutFile(kHost, "/zelto/zeltosetup/nolength.bin", data);
    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/nolength.bin": {"no_length": true}})");
    ASSERT_TRUE(Download(std::string(kBase) + "nolength.bin"));
    EXPECT_EQ(data, testutil::ReadWholeFile(m_local));
    EXPECT_EQ(0u, CHttpUtil::GetDownloadFileSize(m_internet.get(), (std::string(kBase) + "nolength.bin").c_str()));
}

// The size bound holds to the byte, whether the server announces the
// length or not: a body of exactly the bound is whole, one byte more is
// refused (1020) and leaves no file.
TEST_F(DownloadTest, TheSizeBoundHoldsToTheByte)
{
    const std::string data = Pattern(1000);
    m_server.PutFile(kHost, "/zelto/zeltosetup/bound.bin", data);
    const std::string url = std::string(kBase) + "bound.bin";
    for (const char* rules : {"{}", R"({"down.zelto.com/zelto/zeltosetup/bound.bin": {"no_length": true}})"}) {
        SCOPED_TRACE(rules);
        m_server.SetRules(rules);
        EXPECT_TRUE(CHttpUtil::DownloadFile(m_internet.get(), m_local.c_str(), url.c_str(), TRUE, nullptr, nullptr,
                                            nullptr, data.size()));
        EXPECT_EQ(data, testutil::ReadWholeFile(m_local));
        ::DeleteFileA(m_local.c_str());
        EXPECT_FALSE(CHttpUtil::DownloadFile(m_internet.get(), m_local.c_str(), url.c_str(), TRUE, nullptr, nullptr,
                                             nullptr, data.size() - 1));
        EXPECT_EQ(ERR_TRANSFER_TOO_LARGE, LastError.dwAppError);
        EXPECT_FALSE(testutil::FileExists(m_local));
    }
    EXPECT_NE(std::string::npos, Log().find(": the server announced 1000 bytes, more than the 999 allowed"))
        << "an announced length past the bound is refused before a byte is read";
}

TEST_F(DownloadTest, OnlyThePublishedBytesPassTheHash)
{
    // A server that resets at once after its last bytes and announces no
    // length: the cut body reads like a whole one; only the hash tells.
    const std::string data = Pattern(30000);
    m_server.PutFile(kHost, "/zelto/zeltosetup/cut.bin", data);
    const std::string url = std::string(kBase) + "cut.bin";
    CSha256 hash;
    hash.Update(data.data(), static_cast<DWORD>(data.size()));
    const std::string right = hash.HexDigest();

    EXPECT_TRUE(CHttpUtil::DownloadFile(m_internet.get(), m_local.c_str(), url.c_str(), TRUE, nullptr, nullptr,
                                        UpperCase949(right).c_str())) << "either letter case";
    EXPECT_EQ(data, testutil::ReadWholeFile(m_local));

    // Other bytes of the same length: the hash refuses them.
    std::string other = data;
    other[12345] ^= 1;
    m_server.PutFile(kHost, "/zelto/zeltosetup/cut.bin", other);
    RecordLastError(0, 0);
    EXPECT_FALSE(CHttpUtil::DownloadFile(m_internet.get(), m_local.c_str(), url.c_str(), TRUE, nullptr, nullptr,
                                         right.c_str()));
    EXPECT_EQ(ERR_HASH_MISMATCH, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local)) << "the wrong bytes are deleted";
    EXPECT_NE(std::string::npos, Log().find("[ZeltoSetup][DownloadFile] SHA256 mismatch (" + url + "): received "));
    EXPECT_NE(std::string::npos, Log().find(", catalogue " + right + "\r\n"));

    // The body cut without a length: the hash catches it, or, when the
    // reset overtakes the answer on the loopback, the request fails first.
    m_server.PutFile(kHost, "/zelto/zeltosetup/cut.bin", data);
    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/cut.bin": {"cut_after": 3000, "no_length": true}})");
    RecordLastError(0, 0);
    EXPECT_FALSE(CHttpUtil::DownloadFile(m_internet.get(), m_local.c_str(), url.c_str(), TRUE, nullptr, nullptr,
                                         right.c_str()));
    EXPECT_TRUE(LastError.dwAppError == ERR_HASH_MISMATCH || LastError.dwAppError == ERR_OPEN_URL)
        << LastError.dwAppError;
    EXPECT_FALSE(testutil::FileExists(m_local));
}

TEST_F(DownloadTest, BrokenTransfersLeaveNoFile)
{
    m_server.PutFile(kHost, "/zelto/zeltosetup/broken.bin", Pattern(30000));
    const std::string url = std::string(kBase) + "broken.bin";

    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/broken.bin": {"announce_extra": 5000}})");
    EXPECT_FALSE(Download(url)) << "truncated body";
    EXPECT_EQ(ERR_LENGTH_MISMATCH, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local));
    EXPECT_NE(std::string::npos, Log().find("[ZeltoSetup][DownloadFile] dwFileSize != dwRecv Download Failed\r\n"));

    RecordLastError(0, 0);
    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/broken.bin": {"reset_after": 10000}})");
    EXPECT_FALSE(Download(url)) << "reset mid-body";
    EXPECT_EQ(ERR_LENGTH_MISMATCH, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local));

    RecordLastError(0, 0);
    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/broken.bin": {"reset_after": 10000, "no_length": true}})");
    EXPECT_FALSE(Download(url)) << "reset mid-body with no announced length";
    EXPECT_EQ(ERR_LENGTH_MISMATCH, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local));
}

TEST_F(DownloadTest, CancelStopsBeforeTheNextChunkIsWritten)
{
    m_server.PutFile(kHost, "/zelto/zeltosetup/slow.bin", Pattern(40000));
    const std::string url = std::string(kBase) + "slow.bin";
    zelto::ScopedKernelHandle cancel(::CreateEventA(nullptr, TRUE, FALSE, nullptr));

    // Set before the first read: nothing is written at all.
    ::SetEvent(cancel.get());
    HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_FALSE(Download(url, window, cancel.get()));
    MSG msg;
    EXPECT_FALSE(::PeekMessageA(&msg, window, UM_DOWNLOAD_PROGRESS, UM_DOWNLOAD_PROGRESS, PM_REMOVE));
    EXPECT_FALSE(testutil::FileExists(m_local));
    EXPECT_NE(std::string::npos, Log().find("[ZeltoSetup][DownloadFile] User canceled downloading\r\n"));

    // Set by the window after the first chunk, while a worker downloads a
    // trickling body without a length: still a failure, and no file.
    ::ResetEvent(cancel.get());
    m_server.SetRules(R"({"down.zelto.com/zelto/zeltosetup/slow.bin": {"trickle": [4096, 100], "no_length": true}})");
    BOOL result = TRUE;
    HANDLE event = cancel.get();
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        result = Download(url, window, event);
        finished = true;
    });
    DWORD written = 0;
    ULONGLONG deadline = ::GetTickCount64() + 20000;
    bool done = false;
    while (!done && ::GetTickCount64() < deadline) {
        while (::PeekMessageA(&msg, window, UM_DOWNLOAD_PROGRESS, UM_DOWNLOAD_PROGRESS, PM_REMOVE)) {
            written += static_cast<DWORD>(msg.lParam);
            ::SetEvent(event);
            done = true;
        }
        ::Sleep(10);
    }
    testutil::JoinWithin(worker, finished, 60000, "the cancelled download");
    ::DestroyWindow(window);
    EXPECT_TRUE(done);
    EXPECT_LT(written, 40000u);
    EXPECT_FALSE(result);
    EXPECT_EQ(ERR_LENGTH_MISMATCH, LastError.dwAppError);
    EXPECT_FALSE(testutil::FileExists(m_local));
}

TEST_F(DownloadTest, LocalFileThatCannotBeCreated)
{
    m_server.PutFile(kHost, "/zelto/zeltosetup/small.bin", "abc");
    std::string bad = testutil::ExeFolder() + "\\no such folder\\x.bin";
    EXPECT_FALSE(CHttpUtil::DownloadFile(m_internet.get(), bad.c_str(), (std::string(kBase) + "small.bin").c_str(),
                                         TRUE, nullptr, nullptr));
    EXPECT_EQ(ERR_LOCAL_FILE, LastError.dwAppError);
}

TEST_F(DownloadTest, SizeQuery)
{
    m_server.PutFile(kHost, "/zelto/zeltosetup/sized.bin", Pattern(12345));
    EXPECT_EQ(12345u, CHttpUtil::GetDownloadFileSize(m_internet.get(), (std::string(kBase) + "sized.bin").c_str()));
    EXPECT_EQ(0u, CHttpUtil::GetDownloadFileSize(m_internet.get(), (std::string(kBase) + "none.bin").c_str()));
    EXPECT_EQ(ERR_HTTP_STATUS, LastError.dwAppError);

    m_server.ClearRequests();
    EXPECT_EQ(0u, CHttpUtil::GetDownloadFileSize(m_internet.get(), "http://evil.example/zelto/zeltosetup/sized.bin"));
    EXPECT_EQ(ERR_UNTRUSTED_URL, LastError.dwAppError);
    EXPECT_TRUE(m_server.Requests().empty()) << "a refused URL never reaches any server";
    EXPECT_NE(std::string::npos,
              Log().find("[GetDownloadFileSize] CheckDownloadURL(http://evil.example/zelto/zeltosetup/sized.bin) Failed"));
}

TEST_F(DownloadTest, RequestUrl)
{
    EXPECT_FALSE(CHttpUtil::RequestURL(""));
    EXPECT_FALSE(CHttpUtil::RequestURL(nullptr));
    EXPECT_TRUE(m_server.Requests().empty()) << "an empty URL sends nothing";

    m_server.SetRules(R"({"cc.zelto.com/cc": {"body": "ok"}})");
    EXPECT_TRUE(CHttpUtil::RequestURL("http://cc.zelto.com/cc?a=1"));
    EXPECT_FALSE(CHttpUtil::RequestURL("http://cc.zelto.com/other"));
    EXPECT_EQ(ERR_HTTP_STATUS, LastError.dwAppError);
    EXPECT_NE(std::string::npos, Log().find("[ZeltoSetup][DownloadFile] HttpQueryInfo(http://cc.zelto.com/other) = 404 \r\n"));

    auto requests = m_server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("client://ombrix", testutil::ContentServer::Field(requests[0], "referer"));
    EXPECT_EQ("ZeltoOmbrix/1.0.1.31", testutil::ContentServer::Field(requests[0], "user_agent"));
    EXPECT_EQ("no-cache", testutil::ContentServer::Field(requests[0], "cache_control"));
}

}  // namespace
