#include "catalogue/CatalogueSignature.h"

#include "sys/Sha256.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

std::string Data(const std::string& name)
{
    return testutil::ReadWholeFile(testutil::WindowsPathOf(ZELTO_TEST_DATA_DIR) + "\\" + name);
}

TEST(Sha256, KnownVectors)
{
    // Every system this runs on has CNG: what follows tests that path.
    EXPECT_TRUE(CSha256::UsesCng());
    CSha256 empty;
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", empty.HexDigest());
    // Fed in pieces, as a download feeds it.
    CSha256 pieces;
    pieces.Update("a", 1);
    pieces.Update("bc", 2);
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", pieces.HexDigest());
    EXPECT_EQ("", pieces.HexDigest()) << "a finished hash gives nothing more";
    EXPECT_FALSE(pieces.Update("d", 1));

    EXPECT_TRUE(CSha256::IsHexDigest(std::string(63, 'a') + "F"));
    EXPECT_FALSE(CSha256::IsHexDigest(std::string(63, 'a')));
    EXPECT_FALSE(CSha256::IsHexDigest(std::string(64, 'g')));
    EXPECT_TRUE(CSha256::Same(std::string(64, 'a'), std::string(64, 'A')));
    EXPECT_FALSE(CSha256::Same("", ""));
}

class SignatureTest : public ::testing::Test {
protected:
    bool Verify(const std::string& data, const std::string& signature, const std::vector<std::string>& keys)
    {
        return VerifyCatalogueSignature(data, signature, keys, m_why, m_error);
    }
    const std::string m_catalogue = Data("signature\\catalogue.xml");
    const std::string m_sample = Data("sample-key\\zelto-sample-catalogue-key.pub.pem");
    const std::string m_foreign = Data("signature\\foreign.pub.pem");
    std::string m_why;
    unsigned long m_error = 0;
};

TEST_F(SignatureTest, GoodTamperedAndForeign)
{
    const std::string good = Data("signature\\catalogue.xml.sig");
    ASSERT_FALSE(m_catalogue.empty());
    EXPECT_TRUE(Verify(m_catalogue, good, {m_sample})) << m_why;

    std::string tampered = m_catalogue;
    tampered[tampered.size() / 2] ^= 1;   // one byte of the catalogue
    EXPECT_FALSE(Verify(tampered, good, {m_sample}));
    EXPECT_EQ("no key verifies the signature", m_why);
    EXPECT_EQ(static_cast<unsigned long>(NTE_BAD_SIGNATURE), m_error);

    EXPECT_FALSE(Verify(m_catalogue, Data("signature\\catalogue.xml.foreign.sig"), {m_sample})) << "a foreign key's";
    EXPECT_FALSE(Verify(m_catalogue, good, {})) << "no key";
}

TEST_F(SignatureTest, BrokenSignatureTexts)
{
    const std::string good = Data("signature\\catalogue.xml.sig");
    EXPECT_FALSE(Verify(m_catalogue, "", {m_sample}));
    EXPECT_EQ("the signature is empty", m_why);
    EXPECT_FALSE(Verify(m_catalogue, good.substr(0, good.size() / 2), {m_sample})) << "truncated";
    EXPECT_FALSE(Verify(m_catalogue, "not base64 at all!", {m_sample}));
    std::string oneLine;
    for (char c : good)
        if (c != '\n' && c != '\r') oneLine += c;
    EXPECT_TRUE(Verify(m_catalogue, oneLine, {m_sample})) << "line breaks are optional";
}

TEST_F(SignatureTest, AnyConfiguredKeyMaySign)
{
    // A key change: the old and the new key are both built in.
    EXPECT_TRUE(Verify(m_catalogue, Data("signature\\catalogue.xml.foreign.sig"), {m_sample, m_foreign}));
    EXPECT_TRUE(Verify(m_catalogue, Data("signature\\catalogue.xml.sig"), {m_foreign, m_sample}));
    EXPECT_FALSE(Verify(m_catalogue, Data("signature\\catalogue.xml.small.sig"), {Data("signature\\small-1024.pub.pem")}))
        << "keys below 2048 bits are refused";
    EXPECT_FALSE(Verify(m_catalogue, Data("signature\\catalogue.xml.sig"), {"-----BEGIN PUBLIC KEY-----\nAAAA\n"}));
}

}  // namespace
