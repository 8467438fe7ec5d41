#include "sys/RegKey.h"
#include "sys/Util.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <ole2.h>

namespace {

std::string Bare(const char* clsid)   // without braces
{
    std::string s(clsid);
    return s.substr(1, s.size() - 2);
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        CUtil::InitSystemFolders();
        m_dir = std::string(CUtil::Folders().szProgramFiles) + "\\Zelto Test Components";
        CUtil::CreateRecursiveDirectory(m_dir.c_str());
        m_dll = m_dir + "\\ZeltoTestCtl.dll";
        ASSERT_TRUE(::CopyFileA(testutil::Component("v1004\\ZeltoTestCtl.dll").c_str(), m_dll.c_str(), FALSE));
    }
    void TearDown() override
    {
        CUtil::UnregisterServer(m_dll.c_str());
        ::CoFreeUnusedLibraries();
        ::DeleteFileA(m_dll.c_str());
        ::RemoveDirectoryA(m_dir.c_str());
        ::CoUninitialize();
    }
    bool Registered(const char* clsid) const
    {
        CRegKey key;
        return key.Open(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + clsid + "\\InprocServer32").c_str(),
                        ZELTO_KEY_READ) == ERROR_SUCCESS;
    }
    std::string m_dir, m_dll;
};

TEST_F(RegistrationTest, RegistersThroughTheToolForAPathWithBlanks)
{
    ASSERT_FALSE(Registered(TEST_CLSID_A));
    testutil::TestLog log(2);
    EXPECT_TRUE(CUtil::RegisterServer(m_dll.c_str()));
    EXPECT_TRUE(Registered(TEST_CLSID_A));
    EXPECT_TRUE(log.Has("\\Regsvr32.exe\" /s \"" + m_dll + "\")")) << log.Contents();

    char path[MAX_PATH];
    ASSERT_TRUE(CUtil::GetInprocServerPath(Bare(TEST_CLSID_A).c_str(), path, sizeof(path)));
    EXPECT_EQ(0, lstrcmpiA(m_dll.c_str(), path)) << path;
    EXPECT_FALSE(CUtil::GetInprocServerPath(Bare(TEST_CLSID_A).c_str(), path, 5)) << "longer than the buffer";

    WORD code = 9;
    EXPECT_TRUE(CUtil::CheckClassRegistration(Bare(TEST_CLSID_A).c_str(), &code));
    EXPECT_EQ(1, code);

    EXPECT_TRUE(CUtil::UnregisterServer(m_dll.c_str()));
    EXPECT_FALSE(Registered(TEST_CLSID_A));
    EXPECT_TRUE(CUtil::CheckClassRegistration(Bare(TEST_CLSID_A).c_str(), &code));
    EXPECT_EQ(0, code);
}

TEST_F(RegistrationTest, ClassCodes)
{
    WORD code = 9;
    EXPECT_TRUE(CUtil::CheckClassRegistration(Bare(TEST_CLSID_B).c_str(), &code));
    EXPECT_EQ(0, code) << "not registered";
    EXPECT_TRUE(CUtil::CheckClassRegistration("not a guid", &code));
    EXPECT_EQ(2, code);
}

TEST_F(RegistrationTest, RemoveServerByClassId)
{
    EXPECT_FALSE(CUtil::RemoveServerByClassId(Bare(TEST_CLSID_B).c_str())) << "nothing registered";

    ASSERT_TRUE(CUtil::RegisterServer(m_dll.c_str()));
    ASSERT_TRUE(Registered(TEST_CLSID_A));
    EXPECT_TRUE(CUtil::RemoveServerByClassId(Bare(TEST_CLSID_A).c_str()));
    EXPECT_FALSE(Registered(TEST_CLSID_A));
    EXPECT_FALSE(testutil::FileExists(m_dll)) << "the server file is deleted";
}

TEST_F(RegistrationTest, TheToolsExitCodeDecides)
{
    // The tool starts in every case; its exit code tells whether the entry
    // point ran and succeeded.
    EXPECT_FALSE(CUtil::RegisterServer(testutil::Component("bad\\ZeltoBadReg.dll").c_str())) << "entry point failed";
    EXPECT_FALSE(Registered(TEST_CLSID_BAD));
    EXPECT_FALSE(CUtil::RegisterServer(testutil::Component("bad\\missing.dll").c_str())) << "no such library";
    EXPECT_FALSE(CUtil::UnregisterServer(testutil::Component("bad\\missing.dll").c_str()));
}

}  // namespace
