#include "sys/RegKey.h"

#include <gtest/gtest.h>

TEST(RegistryRootName, Names)
{
    EXPECT_EQ("HKEY_LOCAL_MACHINE", RegistryRootName(HKEY_LOCAL_MACHINE));
}
