#include "sys/Util.h"

#include "base/LastError.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>


namespace {

// A folder and everything in it, through the system (Wine sees it at once).
void RemoveTree(const std::string& folder)
{
    const DWORD attributes = ::GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        testutil::RemoveLink(folder);   // a link an earlier run left: never followed
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(find, &found));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(folder.c_str());
}

// The folder is made for administrators only, and a folder of that name
// that a user could have planted (here a link to a folder of his) is
// refused, with nothing written through it.
TEST(StagingFolder, OwnFolderOrNothing)
{
    const std::string folder = CUtil::GetStagingFolder();
    RemoveTree(folder);   // whatever earlier runs left
    ASSERT_TRUE(CUtil::PrepareStagingFolder());
    ASSERT_TRUE(CUtil::PrepareStagingFolder()) << "the folder it made is taken again";

    // A junction planted where the folder would be: refused.
    const std::string elsewhere = CUtil::Folders().szTemp + std::string("zelto planted target");
    ::CreateDirectoryA(elsewhere.c_str(), nullptr);
    RemoveTree(folder);
    ASSERT_TRUE(testutil::PlantLink(folder, elsewhere));
    RecordLastError(0, 0);
    EXPECT_FALSE(CUtil::PrepareStagingFolder());
    EXPECT_EQ(static_cast<DWORD>(ERR_CREATE_FOLDER), LastError.dwAppError);
    testutil::RemoveLink(folder);
    ::RemoveDirectoryA(elsewhere.c_str());
    // Once the link is gone (Wine may take a moment to notice), the folder is
    // made again.
    EXPECT_TRUE(testutil::WaitFor([] { return CUtil::PrepareStagingFolder() == TRUE; }, 5000))
        << "the staging folder was not made again within 5 s of the link's removal";
}

// Who may write the folder, as its access list says: only the system and the
// administrators, whatever else may read it.
TEST(StagingFolder, AccessListDecision)
{
    struct Case {
        const char* sddl;
        bool tight;
    } cases[] = {
        {"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},                     // what the program makes
        {"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)", true},     // users may read
        {"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x2;;;BU)", false},   // users may add files
        {"D:P(A;OICI;FA;;;BA)(A;OICIIO;GA;;;BU)", false},                  // inherited by what is made inside
        {"D:P(A;OICI;FA;;;BA)(A;;WD;;;WD)", false},                        // anyone may change the list
        {"D:P(A;OICI;FA;;;BA)(A;;SD;;;AU)", false},                        // signed-in users may delete it
        {"D:P(A;OICI;FA;;;BA)(D;OICI;FA;;;BU)", true},                     // a denial grants nothing
    };
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1, &descriptor,
                                                                           nullptr)) << c.sddl;
        EXPECT_EQ(c.tight, CUtil::WritableByAdministratorsOnly(descriptor)) << c.sddl;
        ::LocalFree(descriptor);
    }
    // No list at all: anyone may do anything.
    SECURITY_DESCRIPTOR open;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_FALSE(CUtil::WritableByAdministratorsOnly(&open));
}

// A folder of that name whose access list, read back, lets users write is
// not used as it is: it is made anew with the program's own list, and what
// lay in it is gone.
TEST(StagingFolder, ALooseFolderIsMadeAnew)
{
    const std::string folder = CUtil::GetStagingFolder();
    ASSERT_TRUE(CUtil::PrepareStagingFolder());
    const std::string planted = folder + "\\planted.dll";
    testutil::WriteWholeFile(planted, "planted");
    ASSERT_TRUE(testutil::FileExists(planted));
    PSECURITY_DESCRIPTOR loose = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)", SDDL_REVISION_1, &loose, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(loose, &present, &dacl, &defaulted);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, dacl, nullptr));
    ::LocalFree(loose);
    PSECURITY_DESCRIPTOR readBack = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      nullptr, nullptr, &readBack));
    char* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorA(readBack, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                          nullptr);
    const bool kept = text && std::string(text).find(";;;BU)") != std::string::npos;
    ::LocalFree(text);
    ::LocalFree(readBack);
    if (!kept) GTEST_SKIP() << "this file system keeps no access lists: the decision is tested above";

    ASSERT_TRUE(CUtil::PrepareStagingFolder());
    EXPECT_FALSE(testutil::FileExists(planted)) << "what others could have put there is gone";
    readBack = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      nullptr, nullptr, &readBack));
    EXPECT_TRUE(CUtil::WritableByAdministratorsOnly(readBack)) << "made anew with the program's own list";
    ::LocalFree(readBack);
}

}  // namespace
