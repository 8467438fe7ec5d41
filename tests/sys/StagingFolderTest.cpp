#include "sys/Util.h"

#include "base/LastError.h"
#include "TestUtil.h"

#include <gtest/gtest.h>


namespace {

// The folder is made for administrators only, and a folder of that name
// that a user could have planted (here a link to a folder of his) is
// refused, with nothing written through it.
TEST(StagingFolder, OwnFolderOrNothing)
{
    const std::string folder = CUtil::GetStagingFolder();
    testutil::RunUnix("Z:\\bin\\rm -rf \"" + testutil::UnixPathOf(folder) + "\"");   // whatever earlier runs left
    ASSERT_TRUE(CUtil::PrepareStagingFolder());
    ASSERT_TRUE(CUtil::PrepareStagingFolder()) << "the folder it made is taken again";

    // A junction planted where the folder would be: refused.
    const std::string elsewhere = CUtil::Folders().szTemp + std::string("zelto planted target");
    ::CreateDirectoryA(elsewhere.c_str(), nullptr);
    testutil::RunUnix("Z:\\bin\\rm -rf \"" + testutil::UnixPathOf(folder) + "\"");
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
