#include "catalogue/CatalogueFreshness.h"
#include "catalogue/CatalogueSignature.h"
#include "catalogue/RolloutMachine.h"

#include <gtest/gtest.h>

// Only test builds (the sample key, or no key) read a simulated clock: in a
// release, ZELTO_TEST_NOW set by anyone on the desktop would move every
// staged release's stage.
TEST(ReleaseClock, AReleaseBuildReadsTheSystemClockOnly)
{
    ASSERT_TRUE(CatalogueSignatureRequired());
    ASSERT_FALSE(ZELTO_CATALOGUE_SAMPLE_KEY);
    ::SetEnvironmentVariableA("ZELTO_TEST_NOW", "2001-01-01T00:00:00Z");
    ULONGLONG then = 0, year2020 = 0;
    ASSERT_TRUE(ParseUtcTime("2001-01-01T00:00:00Z", then));
    ASSERT_TRUE(ParseUtcTime("2020-01-01T00:00:00Z", year2020));
    EXPECT_GT(RolloutNow(), year2020);
    EXPECT_NE(then, RolloutNow());
}
