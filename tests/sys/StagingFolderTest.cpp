#include "sys/Util.h"

#include "base/LastError.h"
#include "TestUtil.h"

#include <gtest/gtest.h>


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

}  // namespace
