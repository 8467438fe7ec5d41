#include "catalogue/CatalogueFreshness.h"

#include "base/LastError.h"

#include <gtest/gtest.h>

namespace {

CatalogueBinding Bind(const char* rootAttributes)
{
    pugi::xml_document doc;
    doc.load_string((std::string("<ZELTOOMBRIX ") + rootAttributes + "/>").c_str());
    return ReadCatalogueBinding(doc.document_element());
}

ULONGLONG Utc(const char* text)
{
    ULONGLONG time = 0;
    EXPECT_TRUE(ParseUtcTime(text, time)) << text;
    return time;
}

// The root's attributes as a hostile server may write them.
TEST(CatalogueBinding, WhatIsReadFromTheRoot)
{
    EXPECT_EQ(1234567890123456789ull, Bind("SERIAL=\"1234567890123456789\"").serial);
    for (const char* serial : {"", "12a", "7:", "-1", " 5", "+5", "12345678901234567890", "99999999999999999999"})
        EXPECT_FALSE(Bind((std::string("SERIAL=\"") + serial + "\"").c_str()).hasSerial) << serial;
    EXPECT_FALSE(Bind("MODE=\"zeltosetup\"").hasSerial);

    ULONGLONG time = 0;
    EXPECT_EQ(Utc("2027-01-01T00:00:00Z"), Utc("2026-12-31T23:59:59Z") + 10000000ull) << "one second later";
    for (const char* bad : {"2027-01-31T24:00:00Z", "2027-01-31T23:60:00Z", "2027-01-31T23:59:60Z",
                            "2027-02-30T00:00:00Z", "2027-13-01T00:00:00Z", "2027-01-31 23:59:59Z",
                            "2027-01-31T23:59:59z", "2027-1-31T23:59:59ZZ", "2027-01-31T23:59:59", "2O27-01-31T23:59:59Z"})
        EXPECT_FALSE(ParseUtcTime(bad, time)) << bad;
    CatalogueBinding unreadable = Bind("EXPIRES=\"tomorrow\"");
    EXPECT_TRUE(unreadable.hasExpiry);
    EXPECT_FALSE(unreadable.expiryReadable);
}

TEST(CatalogueBinding, Judgement)
{
    const ULONGLONG now = Utc("2026-12-08T12:00:00Z");
    const struct {
        const char* root;
        bool hasHighest;
        ULONGLONG highest;
        DWORD verdict;
        const char* why;
    } cases[] = {
        {"SERIAL=\"7\" MODE=\"zeltosetup\"", false, 9, 0, ""},   // no serial accepted before
        {"SERIAL=\"7\" MODE=\"ZeltoSetup\"", true, 7, 0, ""},    // the mode ignores case; the same serial again
        {"SERIAL=\"7\" MODE=\"zeltosetup\"", true, 8, ERR_CATALOGUE_REPLAYED, "SERIAL 7 is lower than 8"},
        {"SERIAL=\"7\" MODE=\"zeltosetup\" EXPIRES=\"2026-12-08T12:00:01Z\"", true, 6, 0, ""},
        {"SERIAL=\"7\" MODE=\"zeltosetup\" EXPIRES=\"2026-12-08T12:00:00Z\"", true, 6, ERR_CATALOGUE_EXPIRED,
         "expired at 2026-12-08T12:00:00Z"},
        {"SERIAL=\"7\" MODE=\"zeltosetup\" EXPIRES=\"2099-12-31\"", true, 6, ERR_CATALOGUE_EXPIRED,
         "EXPIRES \"2099-12-31\" is not a UTC time"},
        {"SERIAL=\"7\" MODE=\"cafe\"", false, 0, ERR_CATALOGUE_UNBOUND, "published for MODE \"cafe\""},
        {"SERIAL=\"7\" MODE=\"zeltosetup2\"", false, 0, ERR_CATALOGUE_UNBOUND, "published for MODE"},
        {"SERIAL=\"7\" MODE=\"\"", false, 0, ERR_CATALOGUE_UNBOUND, "no MODE"},
        {"SERIAL=\"x\" MODE=\"zeltosetup\"", false, 0, ERR_CATALOGUE_UNBOUND, "no readable SERIAL (\"x\")"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(c.verdict, JudgeCatalogueBinding(Bind(c.root), "zeltosetup", c.hasHighest, c.highest, now, why))
            << c.root << " (highest " << c.highest << "): " << why;
        EXPECT_EQ(0u, why.find(c.why)) << c.root << ": " << why;
        EXPECT_EQ(c.verdict == 0, why.empty()) << c.root;
    }
}

}  // namespace
