#include "zip/ZipArchive.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <memory>
#include <thread>

namespace {

std::string Data(const char* name)
{
    return testutil::WindowsPathOf(ZIP_DATA_DIR) + "\\" + name;
}

class ZipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        m_out = std::string(temp) + "zelto-zip-test";
        Clean();
        ::CreateDirectoryA(m_out.c_str(), nullptr);
    }
    void TearDown() override { Clean(); }
    void Clean() { RemoveTree(m_out); }
    static void RemoveTree(const std::string& dir)
    {
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = data.cFileName;
                if (name == "." || name == "..") continue;
                std::string path = dir + "\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
                else ::DeleteFileA(path.c_str());
            } while (::FindNextFileA(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryA(dir.c_str());
    }
    zip::Archive MakeArchive()
    {
        return zip::Archive([](const std::string& p) {
            return ::CreateDirectoryA(p.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
        }, '\\');
    }
    zip::Result ExtractAll(const char* name)
    {
        zip::Archive archive = MakeArchive();
        zip::Result r = archive.Open(Data(name));
        for (size_t i = 0; r == zip::Result::Ok && i < archive.EntryCount(); ++i) r = archive.Extract(i, m_out);
        return r;
    }
    std::string m_out;
};

TEST_F(ZipTest, StoredAndDeflatedEntriesWithTheirPaths)
{
    EXPECT_EQ(zip::Result::Ok, ExtractAll("stored.zip"));
    EXPECT_EQ("hello", testutil::ReadWholeFile(m_out + "\\a.txt"));
    EXPECT_EQ(3000u, testutil::ReadWholeFile(m_out + "\\sub\\b.txt").size());
    EXPECT_TRUE(testutil::FileExists(m_out + "\\empty.txt"));

    EXPECT_EQ(zip::Result::Ok, ExtractAll("deflate.zip"));
    EXPECT_EQ(200000u, testutil::ReadWholeFile(m_out + "\\ZeltoTestCtl.dll").size());
    EXPECT_EQ(100u, testutil::ReadWholeFile(m_out + "\\dir\\readme.txt").size());

    zip::Archive once = MakeArchive();   // the declared total bounds all unpacking: each entry once
    ASSERT_EQ(zip::Result::Ok, once.Open(Data("stored.zip")));
    for (size_t i = 0; i < once.EntryCount(); ++i) EXPECT_EQ(zip::Result::Ok, once.Extract(i, m_out));
    EXPECT_EQ(zip::Result::TooLarge, once.Extract(1, m_out));

    EXPECT_EQ(zip::Result::Ok, ExtractAll("zip64.zip"));
    EXPECT_EQ(70000u, testutil::ReadWholeFile(m_out + "\\big.bin").size());
    EXPECT_EQ(zip::Result::Ok, ExtractAll("zip64-central.zip")) << "ZIP64 end record and central sizes";
    EXPECT_EQ(5000u, testutil::ReadWholeFile(m_out + "\\second.bin").size());
}

TEST_F(ZipTest, BrokenArchivesAreRefused)
{
    EXPECT_EQ(zip::Result::CrcMismatch, ExtractAll("crcbad.zip"));
    EXPECT_FALSE(testutil::FileExists(m_out + "\\c.txt")) << "a bad entry is not left behind";
    EXPECT_NE(zip::Result::Ok, ExtractAll("truncated.zip"));
    EXPECT_EQ(zip::Result::NotAnArchive, ExtractAll("notzip.zip"));
    EXPECT_EQ(zip::Result::CannotOpen, ExtractAll("missing.zip"));

    zip::Archive empty = MakeArchive();
    EXPECT_EQ(zip::Result::Ok, empty.Open(Data("empty.zip")));
    EXPECT_EQ(0u, empty.EntryCount());
    EXPECT_EQ(zip::Result::BadIndex, empty.Extract(0, m_out));

    // Deflate data that ends before its end marker: refused at once. The
    // unpack runs on a thread of its own so that a reader that waits for
    // more data fails this test within 10 s instead of hanging it.
    auto result = std::make_shared<std::atomic<int>>(-1);
    std::thread([this, result] { *result = static_cast<int>(ExtractAll("deflate-early.zip")); }).detach();
    ASSERT_TRUE(testutil::WaitFor([&] { return *result != -1; }, 10000))
        << "the unpack of an entry whose deflate data ends early did not return within 10 s";
    EXPECT_EQ(static_cast<int>(zip::Result::Corrupt), static_cast<int>(*result));
    EXPECT_FALSE(testutil::FileExists(m_out + "\\early.txt"));

    // Bombs: more than the ceiling declared, two records on one entry's
    // data, more unpacked than declared.
    EXPECT_EQ(zip::Result::TooLarge, ExtractAll("huge.zip"));
    EXPECT_EQ(zip::Result::Corrupt, ExtractAll("overlap.zip"));
    {
        zip::Archive understated = MakeArchive();
        ASSERT_EQ(zip::Result::Ok, understated.Open(Data("understated.zip")));
        uint64_t most = 0;
        EXPECT_EQ(zip::Result::Corrupt, understated.Extract(0, m_out, [&](const std::string&, uint64_t done, uint64_t) {
            most = std::max(most, done);
            return true;
        }));
        EXPECT_LE(most, 1000u) << "stopped at the declared size";
        EXPECT_FALSE(testutil::FileExists(m_out + "\\u.txt"));
    }
    EXPECT_EQ(zip::Result::Corrupt, ExtractAll("overstated.zip"));
    EXPECT_FALSE(testutil::FileExists(m_out + "\\o.txt"));
    EXPECT_EQ(zip::Result::Unsupported, ExtractAll("encrypted.zip"));
    EXPECT_FALSE(testutil::FileExists(m_out + "\\e.txt"));

    // A local header that says otherwise than the directory.
    for (const char* name : {"local-name.zip", "local-method.zip", "local-crc.zip", "local-encrypted.zip",
                             "local-extra.zip"}) {
        EXPECT_EQ(zip::Result::Corrupt, ExtractAll(name)) << name;
        EXPECT_FALSE(testutil::FileExists(m_out + "\\a.txt")) << name;
    }
}

TEST_F(ZipTest, AFailedEntryLeavesTheFileThatWasThere)
{
    testutil::WriteWholeFile(m_out + "\\c.txt", "keep");
    EXPECT_EQ(zip::Result::CrcMismatch, ExtractAll("crcbad.zip"));
    EXPECT_EQ("keep", testutil::ReadWholeFile(m_out + "\\c.txt"));

    zip::Archive archive = MakeArchive();
    ASSERT_EQ(zip::Result::Ok, archive.Open(Data("deflate.zip")));
    EXPECT_EQ(zip::Result::Aborted, archive.Extract(0, m_out, [](const std::string&, uint64_t, uint64_t) { return false; }));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((m_out + "\\ZeltoTestCtl.dll").c_str()))
        << "no empty file for an entry aborted before its first byte";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((m_out + "\\ZeltoTestCtl.dll.zpart").c_str()));
}

TEST_F(ZipTest, NothingLandsOutsideTheFolder)
{
    zip::Archive archive = MakeArchive();
    ASSERT_EQ(zip::Result::Ok, archive.Open(Data("traversal.zip")));
    EXPECT_EQ(zip::Result::UnsafeName, archive.Extract(0, m_out));
    EXPECT_EQ(zip::Result::Ok, archive.Extract(1, m_out));
    EXPECT_EQ(zip::Result::UnsafeName, ExtractAll("absolute.zip"));
    ASSERT_EQ(zip::Result::Ok, archive.Open(Data("names.zip")));
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(zip::Result::UnsafeName, archive.Extract(i, m_out)) << "entry " << i;
    EXPECT_EQ(zip::Result::Ok, archive.Extract(3, m_out));
    EXPECT_FALSE(testutil::FileExists(m_out + "\\a.txt"));
    EXPECT_FALSE(testutil::FileExists("C:\\evil.txt"));
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    EXPECT_FALSE(testutil::FileExists(std::string(temp) + "evil.txt"));

    EXPECT_EQ("a\\b", zip::Archive::SafeRelativePath("a/b", '\\'));
    EXPECT_EQ("a\\b", zip::Archive::SafeRelativePath("./a//b", '\\'));
    EXPECT_EQ("", zip::Archive::SafeRelativePath("a/../../b", '\\'));
    EXPECT_EQ("", zip::Archive::SafeRelativePath("C:x", '\\'));
    EXPECT_EQ("", zip::Archive::SafeRelativePath("dir/a:b", '\\'));
    EXPECT_EQ("", zip::Archive::SafeRelativePath(std::string("a.txt\0.dll", 10), '\\')) << "a NUL would cut the name";
    EXPECT_EQ("", zip::Archive::SafeRelativePath("\\\\server\\share", '\\'));
    // Device names with any extension, and parts that Windows would trim.
    for (const char* device : {"aux.txt", "sub/CON", "LPT9.log", "nul", "Com1.dll", "x.", "dir /y", "dir./y"})
        EXPECT_EQ("", zip::Archive::SafeRelativePath(device, '\\')) << device;
    for (const char* plain : {"COM0", "console.txt", "auxiliary.dll", "LPT10"})
        EXPECT_EQ(plain, zip::Archive::SafeRelativePath(plain, '\\')) << plain;
}

TEST_F(ZipTest, ProgressCanAbort)
{
    zip::Archive archive = MakeArchive();
    ASSERT_EQ(zip::Result::Ok, archive.Open(Data("deflate.zip")));
    uint64_t last = 0;
    int calls = 0;
    EXPECT_EQ(zip::Result::Ok, archive.Extract(0, m_out, [&](const std::string& name, uint64_t done, uint64_t total) {
        EXPECT_EQ("ZeltoTestCtl.dll", name);
        EXPECT_EQ(200000u, total);
        EXPECT_GE(done, last);
        last = done;
        ++calls;
        return true;
    }));
    EXPECT_EQ(200000u, last);
    EXPECT_GE(calls, 2);
    ASSERT_EQ(zip::Result::Ok, archive.Open(Data("deflate.zip")));   // each entry unpacks once
    ::DeleteFileA((m_out + "\\ZeltoTestCtl.dll").c_str());
    EXPECT_EQ(zip::Result::Aborted,
              archive.Extract(0, m_out, [](const std::string&, uint64_t done, uint64_t) { return done == 0; }));
    EXPECT_FALSE(testutil::FileExists(m_out + "\\ZeltoTestCtl.dll")) << "an aborted entry is removed";
}

}  // namespace
