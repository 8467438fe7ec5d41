#include "catalogue/KeyChain.h"

#include "base/LastError.h"
#include "catalogue/CatalogueFreshness.h"
#include "sys/RegKey.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

std::string SampleKey(const char* name)
{
    return testutil::ReadWholeFile(std::string(ZELTO_TEST_DATA_DIR) + "/sample-key/" + name + ".pub.pem");
}

// What a program built with the sample catalogue key A and the three sample
// root keys (two must sign) holds before any keys document.
KeySet Held()
{
    KeySet held;
    held.roots = {SampleKey("zelto-sample-root-1"), SampleKey("zelto-sample-root-2"), SampleKey("zelto-sample-root-3")};
    held.threshold = 2;
    held.catalogueKeys = {SampleKey("zelto-sample-catalogue-key")};
    return held;
}

DWORD Judge(const KeySet& held, const char* name, KeySet& next, std::string& why)
{
    const std::string base = std::string(ZELTO_KEYS_FIXTURES) + "/" + name + ".xml";
    ULONGLONG now = 0;
    EXPECT_TRUE(ParseUtcTime("2026-12-09T00:00:00Z", now));
    return JudgeKeysDocument(held, testutil::ReadWholeFile(base), testutil::ReadWholeFile(base + ".sig"), now, next,
                             why);
}

// Keys documents as a hostile or mistaken server may serve them, offered as
// the next version: only one signed by the threshold of the held roots and
// of its own, unexpired, of the version asked for, counts.
TEST(KeyChain, WhichDocumentsAreHeld)
{
    const struct {
        const char* name;
        DWORD verdict;
        const char* why;
    } cases[] = {
        {"good", 0, ""},
        {"under", ERR_KEYS_THRESHOLD, "signed by 1 of the held version's root keys, 2 needed"},
        {"own-under", ERR_KEYS_THRESHOLD, "signed by 1 of its own root keys, 2 needed"},
        {"expired", ERR_KEYS_EXPIRED, "expired"},
        {"no-expiry", ERR_KEYS_EXPIRED, "no EXPIRES"},
        {"version-3", ERR_KEYS_NOT_NEXT, "it is version 3, the one after the held version 1"},
        {"all-revoked", ERR_KEYS_UNREADABLE, "no catalogue key that is not revoked"},
        {"garbled", ERR_KEYS_UNREADABLE, "no XML document"},
    };
    for (const auto& c : cases) {
        KeySet next;
        std::string why;
        EXPECT_EQ(c.verdict, Judge(Held(), c.name, next, why)) << c.name << ": " << why;
        EXPECT_EQ(0u, why.find(c.why)) << c.name << ": " << why;
    }
}

// The held document decides which keys sign catalogues: B from now on, A
// revoked; a revoked key stays revoked whatever a later version lists.
TEST(KeyChain, RevocationIsForGood)
{
    KeySet next;
    std::string why;
    ASSERT_EQ(0u, Judge(Held(), "good", next, why)) << why;
    EXPECT_EQ(2u, next.version);
    const std::string a = KeyId(SampleKey("zelto-sample-catalogue-key"));
    const std::string b = KeyId(SampleKey("zelto-sample-catalogue-b"));
    ASSERT_EQ(64u, a.size());
    EXPECT_EQ(std::vector<std::string>{b}, ActiveCatalogueKeyIds(next));
    EXPECT_NE(ActiveCatalogueKeyIds(Held()), ActiveCatalogueKeyIds(next)) << "a change of keys: the floors go";

    // A version that names A again beside B, chained to a holder that
    // revoked A: A stays out.
    KeySet holder = Held();
    holder.revoked.insert(a);
    KeySet later;
    ASSERT_EQ(0u, Judge(holder, "names-a", later, why)) << why;
    EXPECT_EQ(std::vector<std::string>{b}, ActiveCatalogueKeyIds(later));

    // Held across runs: every revoked id beside the document.
    ASSERT_TRUE(StoreKeySet(later));
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, kKeysKey, ZELTO_KEY_READ));
    char ids[1024] = "";
    DWORD size = sizeof(ids) - 1;
    ASSERT_EQ(ERROR_SUCCESS, key.QueryStringValue("Revoked", ids, &size));
    EXPECT_NE(std::string::npos, std::string(ids).find(a)) << "A's revocation is kept, though the document omits it";
    key.Close();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kKeysKey);
}

}  // namespace
