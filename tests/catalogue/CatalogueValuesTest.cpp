#include "catalogue/CatalogueValues.h"

#include <gtest/gtest.h>

namespace {

TEST(CatalogueValues, VersionLists)
{
    DWORD high = 9, low = 9;
    catalogue::VersionList("2, 5, 0, 7", high, low);
    EXPECT_EQ(131077u, high);
    EXPECT_EQ(7u, low);
    catalogue::VersionList("1,0,1,31", high, low);
    EXPECT_EQ(0x00010000u, high);
    EXPECT_EQ(0x0001001Fu, low);
    catalogue::VersionList("3", high, low);
    EXPECT_EQ(3u << 16, high);
    EXPECT_EQ(0u, low);
    catalogue::VersionList("1,70000,0,0", high, low);
    EXPECT_EQ((1u << 16) | (70000u & 0xFFFF), high) << "each part keeps 16 bits";
}

TEST(CatalogueValues, TimeLists)
{
    ULONGLONG t = catalogue::TimeList("2024,3,15,10,20,30");
    ASSERT_NE(0u, t);
    FILETIME utc = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}, local;
    SYSTEMTIME s;
    ::FileTimeToLocalFileTime(&utc, &local);
    ::FileTimeToSystemTime(&local, &s);
    EXPECT_EQ(2024, s.wYear);
    EXPECT_EQ(15, s.wDay);
    EXPECT_EQ(10, s.wHour);
    EXPECT_EQ(30, s.wSecond);

    EXPECT_EQ(0u, catalogue::TimeList("2024,13,1,0,0,0")) << "month 13: no time";
    EXPECT_EQ(0u, catalogue::TimeList("2024,2,0,0,0,0")) << "day 0";
    EXPECT_EQ(0u, catalogue::TimeList("year,month"));
}

TEST(CatalogueValues, IntegersFlagsAndRoots)
{
    EXPECT_EQ(12, catalogue::Integer("12abc"));
    EXPECT_EQ(-4, catalogue::Integer("  -4"));
    EXPECT_EQ(0, catalogue::Integer("x1"));

    pugi::xml_document doc;
    doc.load_string("<F><A>1</A><B>true</B><C> 1</C><D>1 </D><E/></F>");
    pugi::xml_node f = doc.child("F");
    EXPECT_EQ(1, catalogue::Flag(f, "A"));
    EXPECT_EQ(0, catalogue::Flag(f, "B"));
    EXPECT_EQ(0, catalogue::Flag(f, "C"));
    EXPECT_EQ(0, catalogue::Flag(f, "D"));
    EXPECT_EQ(0, catalogue::Flag(f, "E"));
    EXPECT_EQ(0, catalogue::Flag(f, "missing"));

    EXPECT_EQ(HKEY_CURRENT_USER, catalogue::RootByName("hkcu"));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, catalogue::RootByName("HKLM"));
    EXPECT_EQ(HKEY_CLASSES_ROOT, catalogue::RootByName("Hkcr"));
    EXPECT_EQ(nullptr, catalogue::RootByName("HKEY_CURRENT_USER"));
    EXPECT_EQ(nullptr, catalogue::RootByName("HKU"));
}

}  // namespace
