#include "catalogue/Rollout.h"

#include "catalogue/CatalogueFreshness.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

ULONGLONG Utc(const char* text)
{
    ULONGLONG time = 0;
    EXPECT_TRUE(ParseUtcTime(text, time)) << text;
    return time;
}

CRollout Read(const std::string& attributes)
{
    pugi::xml_document doc;
    doc.load_string(("<UPDATEITEM NAME=\"X\"><ROLLOUT " + attributes + "/></UPDATEITEM>").c_str());
    return ReadRollout(doc.document_element());
}

const char* const kStart = "START=\"2026-12-01T00:00:00Z\" SALT=\"5eed\" ";

std::string Id(int n)
{
    char text[40];
    std::snprintf(text, sizeof(text), "%032x", n * 2654435761u);
    return text;
}

}  // namespace

// What a catalogue may write, read the way a hostile one is: anything
// unreadable holds the item rather than releasing it to everyone.
TEST(Rollout, WhatIsReadAndWhatHoldsTheItem)
{
    EXPECT_EQ(2000, ParsePercent("20"));
    EXPECT_EQ(50, ParsePercent("0.5"));
    EXPECT_EQ(1225, ParsePercent("12.25"));
    EXPECT_EQ(10000, ParsePercent("100"));
    for (const char* bad : {"", "101", "-1", "1.", ".5", "1.234", "5%", "1e2", "0x10", "1000", " 5"})
        EXPECT_EQ(-1, ParsePercent(bad)) << bad;

    pugi::xml_document none;
    none.load_string("<UPDATEITEM NAME=\"X\"/>");
    EXPECT_FALSE(ReadRollout(none.document_element()).present);

    EXPECT_TRUE(Read(std::string(kStart) + "PERCENT=\"5\"").valid);
    EXPECT_TRUE(Read(std::string(kStart) + "RAMP=\"1:0,5:24,100:96\"").valid);
    EXPECT_TRUE(Read("SALT=\"5eed\" CRITICAL=\"1\"").valid);
    for (const char* bad : {"PERCENT=\"5\" SALT=\"5eed\"",                           // a stage without START
                            "START=\"2026-12-01\" SALT=\"5eed\" PERCENT=\"5\"",       // no UTC time
                            "START=\"2026-12-01T00:00:00Z\" PERCENT=\"5\"",           // no SALT
                            "START=\"2026-12-01T00:00:00Z\" SALT=\"a\" PERCENT=\"x\"",
                            "START=\"2026-12-01T00:00:00Z\" SALT=\"a\" PERCENT=\"5\" RAMP=\"5:0\"",
                            "START=\"2026-12-01T00:00:00Z\" SALT=\"a\" RAMP=\"5:24,1:48\"",   // falling
                            "START=\"2026-12-01T00:00:00Z\" SALT=\"a\" RAMP=\"5:24,20:24\"",  // hours not rising
                            "START=\"2026-12-01T00:00:00Z\" SALT=\"a\" RAMP=\"5:24,\"",
                            "START=\"2026-12-01T00:00:00Z\" SALT=\"a\" RAMP=\"\"",
                            "START=\"2026-12-01T00:00:00Z\" SALT=\"a\" PERCENT=\"5\" HALTED=\"soon\""}) {
        CRollout rollout = Read(bad);
        EXPECT_TRUE(rollout.present && !rollout.valid) << bad;
        CRolloutCase c;
        c.present = true;
        c.rollout = rollout;
        std::string why;
        EXPECT_FALSE(RolloutTakesItem(c, why)) << bad;
        EXPECT_NE(std::string::npos, why.find("cannot be read")) << why;
    }
}

// The grammar the operators' tool holds to as well: the same table is read
// by tests/tools/test_zelto_publish.py.
TEST(Rollout, OneGrammarWithTheOperatorsTool)
{
    std::ifstream table(testutil::WindowsPathOf(ZELTO_TEST_DATA_DIR) + "\\rollout-grammar.txt");
    ASSERT_TRUE(table.good());
    std::string line;
    int rows = 0;
    while (std::getline(table, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string kind, text, expected;
        std::getline(fields, kind, '\t');
        std::getline(fields, text, '\t');
        std::getline(fields, expected, '\t');
        if (text == "(empty)") text.clear();
        ++rows;
        if (kind == "percent") {
            EXPECT_EQ(expected == "refused" ? -1 : std::stoi(expected), ParsePercent(text)) << "PERCENT " << text;
        } else if (kind == "time") {
            ULONGLONG time = 0;
            EXPECT_EQ(expected == "ok", ParseUtcTime(text, time)) << "time " << text;
        } else {
            std::vector<std::pair<ULONGLONG, int>> ramp;
            EXPECT_EQ(expected == "ok", ParseRamp(text, ramp)) << "RAMP " << text;
        }
    }
    EXPECT_GT(rows, 40);
}

// The ramp rises at its steps, a halt freezes it where it was, CRITICAL
// and a ROLLOUT without a stage release to everyone.
TEST(Rollout, TheStageOverTime)
{
    const CRollout ramp = Read(std::string(kStart) + "RAMP=\"1:0,5:24,20:48,50:72,100:96\"");
    EXPECT_EQ(0, StageAt(ramp, Utc("2026-11-30T23:59:59Z")));
    EXPECT_EQ(100, StageAt(ramp, Utc("2026-12-01T00:00:00Z")));
    EXPECT_EQ(100, StageAt(ramp, Utc("2026-12-01T23:59:59Z")));
    EXPECT_EQ(500, StageAt(ramp, Utc("2026-12-02T00:00:00Z")));
    EXPECT_EQ(5000, StageAt(ramp, Utc("2026-12-04T12:00:00Z")));
    EXPECT_EQ(10000, StageAt(ramp, Utc("2027-06-01T00:00:00Z")));

    const CRollout halted =
        Read(std::string(kStart) + "RAMP=\"1:0,5:24,20:48,50:72,100:96\" HALTED=\"2026-12-03T06:00:00Z\"");
    EXPECT_EQ(500, StageAt(halted, Utc("2026-12-02T06:00:00Z")));
    EXPECT_EQ(2000, StageAt(halted, Utc("2026-12-03T06:00:00Z")));
    EXPECT_EQ(2000, StageAt(halted, Utc("2027-06-01T00:00:00Z"))) << "frozen, never higher";

    EXPECT_EQ(1250, StageAt(Read(std::string(kStart) + "PERCENT=\"12.5\""), Utc("2026-12-09T00:00:00Z")));
    EXPECT_EQ(0, StageAt(Read(std::string(kStart) + "PERCENT=\"12.5\""), Utc("2026-11-09T00:00:00Z")));
    EXPECT_EQ(10000, StageAt(Read(std::string(kStart) + "PERCENT=\"1\" CRITICAL=\"1\""), Utc("2020-01-01T00:00:00Z")));
    EXPECT_EQ(10000, StageAt(Read("SALT=\"a\""), Utc("2026-12-09T00:00:00Z")));
}

// The bucket: the same for one release, other machines first with a new
// salt, and a percentage takes about that share of machines.
TEST(Rollout, BucketsAreStableRotateWithTheSaltAndShareOutEvenly)
{
    EXPECT_EQ(RolloutBucket(Id(1), "ZeltoTestCtl", "a1"), RolloutBucket(Id(1), "ZeltoTestCtl", "a1"));
    int firstAgain = 0, sameForOtherItem = 0;
    int taken[5] = {};
    const int percents[5] = {1, 5, 20, 50, 100};
    for (int n = 0; n < 1000; ++n) {
        const int bucket = RolloutBucket(Id(n), "ZeltoTestCtl", "a1");
        ASSERT_TRUE(bucket >= 0 && bucket < kFullStage);
        for (int p = 0; p < 5; ++p) taken[p] += bucket < percents[p] * 100;
        // The first 5 % of one release against the next one's.
        if (bucket < 500 && RolloutBucket(Id(n), "ZeltoTestCtl", "b2") < 500) ++firstAgain;
        if (bucket == RolloutBucket(Id(n), "ZeltoTestCtl2", "a1")) ++sameForOtherItem;
    }
    // 1,000 machines: within 1.5 points at 1 % and 5 %, 4 points above
    // (about four standard deviations).
    EXPECT_NEAR(10, taken[0], 15);
    EXPECT_NEAR(50, taken[1], 15);
    EXPECT_NEAR(200, taken[2], 40);
    EXPECT_NEAR(500, taken[3], 40);
    EXPECT_EQ(1000, taken[4]);
    EXPECT_LT(firstAgain, 15) << "a new salt must not pick the same first machines (about 2.5 expected)";
    EXPECT_LT(sameForOtherItem, 5);
}

TEST(Rollout, VersionPrefixesMatchWholeComponents)
{
    const DWORD high = (1 << 16) | 2, low = (7 << 16) | 0;   // 1.2.7.0
    EXPECT_TRUE(VersionHasPrefix(high, low, "1"));
    EXPECT_TRUE(VersionHasPrefix(high, low, "1.2"));
    EXPECT_TRUE(VersionHasPrefix(high, low, "1.2.7.0"));
    EXPECT_FALSE(VersionHasPrefix((1 << 16) | 20, 0, "1.2")) << "1.20.0.0";
    for (const char* bad : {"", "2", "2.2", "1.3", "1.2.", ".1", "1..2", "1.2.7.0.0", "a", "1.2x", "100000"})
        EXPECT_FALSE(VersionHasPrefix(high, low, bad)) << bad;
}

// Who decides: the administrator's policy first, then CRITICAL, a first
// install, the rings and the bucket against the stage.
TEST(Rollout, PoliciesRingsAndFirstInstalls)
{
    CRolloutCase c;
    c.item = "ZeltoTestCtl";
    c.present = true;
    c.hasVersion = true;
    c.versionHigh = (1 << 16) | 0;
    c.versionLow = 5;
    c.now = Utc("2026-12-02T12:00:00Z");   // the ramp's 5 %
    c.rollout = Read(std::string(kStart) + "RAMP=\"1:0,5:24,100:96\"");
    std::string why;
    auto takes = [&](int bucket) {
        c.bucket = bucket;
        return RolloutTakesItem(c, why);
    };
    EXPECT_TRUE(takes(499));
    EXPECT_FALSE(takes(500));
    EXPECT_NE(std::string::npos, why.find("bucket 500 outside stage 5%")) << why;

    c.present = false;
    EXPECT_TRUE(takes(9999)) << "a first install is not staged";
    c.rollout.stageFirstInstalls = true;
    EXPECT_FALSE(takes(9999)) << "unless the catalogue says so";
    c.present = true;

    c.policy.ring = "early";
    EXPECT_TRUE(takes(9999));
    c.now = Utc("2026-11-30T00:00:00Z");
    EXPECT_FALSE(takes(0)) << "not before the release starts";
    // A halt holds every ring to the stage it froze; a release at 0 % is
    // no release for early machines either.
    c.now = Utc("2026-12-02T12:00:00Z");
    c.rollout.halted = Utc("2026-12-02T00:00:00Z");
    EXPECT_FALSE(takes(9999)) << "early, halted at 5 %";
    EXPECT_TRUE(takes(499));
    c.rollout.halted = 0;
    CRollout zero = Read(std::string(kStart) + "PERCENT=\"0\"");
    std::swap(c.rollout, zero);
    EXPECT_FALSE(takes(0)) << "early, at 0 %";
    std::swap(c.rollout, zero);
    c.now = Utc("2026-12-02T12:00:00Z");
    c.policy.ring = "late";
    EXPECT_FALSE(takes(0));
    c.now = Utc("2026-12-05T00:00:00Z");
    EXPECT_TRUE(takes(9999)) << "late machines at 100 %";
    c.policy.ring.clear();

    c.rollout.critical = true;
    c.now = Utc("2026-12-01T01:00:00Z");
    EXPECT_TRUE(takes(9999));
    c.policy.pin = "1.0.0.4";
    EXPECT_FALSE(takes(0)) << "a pin outranks CRITICAL";
    EXPECT_NE(std::string::npos, why.find("PinnedVersions: 1.0.0.5 is not on 1.0.0.4")) << why;
    c.policy.pin = "1.0";
    EXPECT_TRUE(takes(0));

    c.policy.updatesOff = true;
    EXPECT_FALSE(takes(0));
    EXPECT_NE(std::string::npos, why.find("DisableUpdates")) << why;
    c.present = false;
    EXPECT_TRUE(takes(0)) << "installs of absent items stay allowed";
    c.policy.installsOff = true;
    EXPECT_FALSE(takes(0));
    EXPECT_NE(std::string::npos, why.find("DisableInstalls")) << why;
}
