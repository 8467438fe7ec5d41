#include "app/RunLock.h"

#include "base/Handles.h"
#include "sys/Util.h"

#include <gtest/gtest.h>

namespace {

// A process without administrator rights can make and hold any named object,
// the run mutex of older versions among them: that no longer stops a run.
// Only a run holding the lock file does, and only while it holds it.
TEST(RunLock, OnlyAnotherRunHoldsTheMachine)
{
    zelto::ScopedKernelHandle global(::CreateMutexA(nullptr, TRUE, "Global\\ZeltoSetup.Run"));
    zelto::ScopedKernelHandle local(::CreateMutexA(nullptr, TRUE, "ZeltoSetup.Run"));
    ASSERT_TRUE(global.valid() && local.valid());

    CRunLock first;
    ASSERT_EQ(CRunLock::Claim::Taken, first.Take()) << "a held object of the old name does not block the run";
    const std::string lock = CUtil::GetStagingFolder() + "\\ZeltoSetup.run";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(lock.c_str()));

    CRunLock second;
    EXPECT_EQ(CRunLock::Claim::AnotherRunning, second.Take());
    first.Release();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(lock.c_str())) << "the lock file goes with its holder";
    EXPECT_EQ(CRunLock::Claim::Taken, second.Take()) << "the machine is free once the first run ends";
}

}  // namespace
