#include "catalogue/CatalogueFreshness.h"

#include "base/LastError.h"
#include "sys/RegKey.h"

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
        {"SERIAL=\"7\" MODE=\"zeltosetup\" EXPIRES=\"2027-01-01T00:00:00Z\"", false, 9, 0, ""},   // none accepted before
        {"SERIAL=\"7\" MODE=\"ZeltoSetup\" EXPIRES=\"2027-01-01T00:00:00Z\"", true, 7, 0, ""},    // case; the same again
        {"SERIAL=\"7\" MODE=\"zeltosetup\" EXPIRES=\"2027-01-01T00:00:00Z\"", true, 8, ERR_CATALOGUE_REPLAYED,
         "SERIAL 7 is lower than 8"},
        {"SERIAL=\"7\" MODE=\"zeltosetup\"", false, 0, ERR_CATALOGUE_UNBOUND, "no EXPIRES"},   // valid for ever
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

// One floor per run mode, whatever scheme, host, port or capitals the
// catalogue's URL had: the floors older versions kept per URL are carried
// over, the highest of a mode's, and a change of keys forgets them all.
TEST(CatalogueFloor, OnePerModeCarriedOverAndReset)
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kCatalogueSerialsKey);
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, kCatalogueSerialsKey));
        key.SetStringValue("http://down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml", "300");
        key.SetStringValue("https://other.zelto.com:443/zelto/zeltosetup/Repository/ZeltoSetup/ZeltoSetup.xml", "500");
        key.SetStringValue("HTTP://DOWN.ZELTO.COM/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml", "400");
        key.SetStringValue("http://down.zelto.com/zelto/zeltosetup/Repository/cafe/cafe.xml", "900");
        key.SetStringValue("http://down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/other.xml", "999");
    }
    ULONGLONG serial = 0;
    ASSERT_TRUE(ReadAcceptedSerial("ZELTOSETUP", serial));
    EXPECT_EQ(500u, serial) << "the highest of the mode's URLs, whatever their spelling";
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kCatalogueSerialsKey, ZELTO_KEY_READ));
        char text[32];
        DWORD size = sizeof(text);
        EXPECT_NE(ERROR_SUCCESS, key.QueryStringValue(
            "https://other.zelto.com:443/zelto/zeltosetup/Repository/ZeltoSetup/ZeltoSetup.xml", text, &size))
            << "carried over values go";
        size = sizeof(text);
        EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(
            "http://down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/other.xml", text, &size))
            << "a URL of no mode's catalogue is not the mode's";
    }
    ASSERT_TRUE(ReadAcceptedSerial("cafe", serial));
    EXPECT_EQ(900u, serial) << "each mode its own";

    EXPECT_TRUE(RecordAcceptedSerial("zeltosetup", 450));
    ASSERT_TRUE(ReadAcceptedSerial("zeltosetup", serial));
    EXPECT_EQ(500u, serial) << "never lowered";
    EXPECT_TRUE(RecordAcceptedSerial("ZeltoSetup", 600));
    ASSERT_TRUE(ReadAcceptedSerial("zeltosetup", serial));
    EXPECT_EQ(600u, serial);

    ResetAcceptedSerials();
    EXPECT_FALSE(ReadAcceptedSerial("zeltosetup", serial));
    EXPECT_FALSE(ReadAcceptedSerial("cafe", serial));
}

}  // namespace
