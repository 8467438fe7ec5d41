#include "sys/CodeSignature.h"
#include "sys/SignatureTimestamp.h"
#include "sys/Sha256.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

// The test bed of tools/make_test_signers.sh: authorities, publishers and
// the test components signed in each way.
using testutil::Component;
using testutil::ExeFolder;

namespace {

std::string Signed(const std::string& variant, const std::string& file = "ZeltoTestCtl.dll")
{
    return Component("signers\\" + variant + "\\" + file);
}

CSignerPin Pin(const std::string& name, const std::string& subject = "")
{
    std::ifstream in(Component("signers\\" + name + ".spki"));
    CSignerPin pin;
    in >> pin.spkiSha256;
    pin.subject = subject;
    return pin;
}

SignatureVerdict Judge(const std::string& path, const SignerPins& pins, LONG* status = nullptr)
{
    CCodeSignature signature(path.c_str());
    LONG result = 0;
    std::string reason;
    SignatureVerdict verdict = signature.Matches(pins, result, reason);
    if (status) *status = result;
    return verdict;
}

}  // namespace

TEST(CodeSignature, PinnedPublishersAndWhatTheyMaySign)
{
    ASSERT_EQ(64u, Pin("authority-a").spkiSha256.size()) << "the test bed is missing";
    const SignerPins authority{Pin("authority-a")};

    CCodeSignature good(Signed("good").c_str());
    EXPECT_EQ(SignatureVerdict::Trusted, good.Verdict());
    EXPECT_EQ("QRV Corp.", good.Subject());
    EXPECT_EQ(SignatureVerdict::Trusted, Judge(Signed("good"), authority));
    EXPECT_EQ(SignatureVerdict::Trusted, Judge(Signed("good", "ZeltoAux.exe"), authority));
    // A renewed certificate (a new key) under the same authority.
    EXPECT_EQ(SignatureVerdict::Trusted, Judge(Signed("renewed"), authority));
    // A leaf pinned itself; a renewed leaf then no longer matches it.
    EXPECT_EQ(SignatureVerdict::Trusted, Judge(Signed("good"), {Pin("publisher")}));
    EXPECT_EQ(SignatureVerdict::NotPinned, Judge(Signed("renewed"), {Pin("publisher")}));
    // Either of two pins (an authority change with both listed).
    EXPECT_EQ(SignatureVerdict::Trusted, Judge(Signed("other"), {Pin("authority-a"), Pin("authority-b")}));
    // The expected subject.
    EXPECT_EQ(SignatureVerdict::Trusted, Judge(Signed("good"), {Pin("authority-a", "QRV Corp.")}));
    EXPECT_EQ(SignatureVerdict::NotPinned, Judge(Signed("good"), {Pin("authority-a", "QRV Corporation")}));
}

TEST(CodeSignature, RefusalsSayWhy)
{
    const SignerPins authority{Pin("authority-a")};
    LONG status = 0;
    EXPECT_EQ(SignatureVerdict::Unsigned, Judge(Signed("unsigned"), authority, &status));
    EXPECT_EQ(TRUST_E_NOSIGNATURE, status);
    EXPECT_EQ(SignatureVerdict::Tampered, Judge(Signed("tampered"), authority, &status));
    EXPECT_EQ(TRUST_E_BAD_DIGEST, status);
    EXPECT_EQ("QRV Corp.", CCodeSignature(Signed("tampered").c_str()).Subject()) << "the signer it claims, for the log";
    // The same name under another authority, and a self-signed forgery of it.
    EXPECT_EQ(SignatureVerdict::NotPinned, Judge(Signed("other"), authority, &status));
    EXPECT_EQ(CERT_E_UNTRUSTEDROOT, status);
    EXPECT_EQ(SignatureVerdict::NotPinned, Judge(Signed("forged"), authority));
    // A forgery's own key pinned by nobody: the same name does not help it.
    EXPECT_EQ(SignatureVerdict::NotPinned, Judge(Signed("forged"), {Pin("publisher")}));
    // Signed under a publisher pinned for another item.
    EXPECT_EQ(SignatureVerdict::NotPinned, Judge(Signed("good"), {Pin("authority-b")}));
    // A certificate of the pinned authority that is not for code signing.
    EXPECT_EQ(SignatureVerdict::NotValid, Judge(Signed("misused"), authority, &status));
    EXPECT_EQ(CERT_E_WRONG_USAGE, status);
    // A file that is no PE image at all.
    EXPECT_EQ(SignatureVerdict::Unsigned, Judge(Component("signers\\publisher.spki"), authority));
    EXPECT_EQ(SignatureVerdict::Unsigned, Judge(Component("signers\\no such file.dll"), authority));
}

// What WinVerifyTrust's answer lets through to the program's own chain. Wine
// never refuses a chain itself; Windows does for an authority outside its
// root store, which the pinned chain then judges.
TEST(CodeSignature, OnlyTheMachinesTrustInTheChainIsPassedOver)
{
    const struct { LONG result; bool provider, verified; SignatureVerdict verdict; } cases[] = {
        {0, true, true, SignatureVerdict::Trusted},
        {0, false, false, SignatureVerdict::Tampered},   // nothing to read the signer from
        {TRUST_E_NOSIGNATURE, false, false, SignatureVerdict::Unsigned},
        {TRUST_E_SUBJECT_FORM_UNKNOWN, false, false, SignatureVerdict::Unsigned},
        {TRUST_E_BAD_DIGEST, true, false, SignatureVerdict::Tampered},
        {CERT_E_UNTRUSTEDROOT, true, true, SignatureVerdict::Trusted},
        {CERT_E_EXPIRED, true, true, SignatureVerdict::Trusted},   // judged again at the signing time
        {CERT_E_UNTRUSTEDROOT, true, false, SignatureVerdict::Tampered},   // the digest failed too
        {CERT_E_UNTRUSTEDROOT, false, true, SignatureVerdict::Tampered},
        {TRUST_E_EXPLICIT_DISTRUST, true, true, SignatureVerdict::Tampered},   // the user distrusts it
        {static_cast<LONG>(CRYPT_E_REVOKED), true, true, SignatureVerdict::Tampered},
        {TRUST_E_CERT_SIGNATURE, true, true, SignatureVerdict::Tampered},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.verdict, ClassifyVerifyResult(c.result, c.provider, c.verified))
            << std::hex << c.result << " " << c.provider << c.verified;
}

TEST(CodeSignature, ATimestampKeepsASignatureOfAnExpiredCertificate)
{
    const SignerPins authority{Pin("authority-a")};
    LONG status = 0;
    EXPECT_EQ(SignatureVerdict::NotValid, Judge(Signed("expired"), authority, &status));
    EXPECT_EQ(CERT_E_EXPIRED, status);

    CCodeSignature stamped(Signed("stamped").c_str());
    std::string reason;
    EXPECT_EQ(SignatureVerdict::Trusted, stamped.Matches(authority, status, reason))
        << reason << "; " << stamped.TimestampProblem();
    EXPECT_TRUE(stamped.Timestamped()) << stamped.TimestampProblem();
    // The time-stamping authority is trusted through the pins: under the
    // expired certificate's own pin the timestamp is passed over, and the
    // certificate judged now has expired.
    EXPECT_EQ(SignatureVerdict::NotValid, stamped.Matches({Pin("retired")}, status, reason));
    EXPECT_FALSE(stamped.Timestamped());
    EXPECT_EQ("the timestamp's authority is not trusted", stamped.TimestampProblem());
    // A timestamp changed after it was made counts for nothing.
    for (const auto& changed : {std::make_pair("restamped", "the timestamp's content differs from what its authority signed"),
                                std::make_pair("resigned", "the timestamp's signature does not verify")}) {
        CCodeSignature signature(Signed(changed.first).c_str());
        EXPECT_EQ(SignatureVerdict::NotValid, signature.Matches(authority, status, reason)) << changed.first;
        EXPECT_EQ(changed.second, signature.TimestampProblem()) << changed.first;
    }
}

namespace {

// DER of a TSTInfo stamping 1 July 2024 whose imprint is the SHA-256 of value.
std::vector<BYTE> TstInfo(const std::string& value)
{
    CSha256 hash;
    hash.Update(value.data(), static_cast<DWORD>(value.size()));
    const std::string hex = hash.HexDigest();
    std::vector<BYTE> digest;
    for (size_t i = 0; i < hex.size(); i += 2) digest.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    auto wrap = [](BYTE tag, const std::vector<BYTE>& body) {
        std::vector<BYTE> out;
        out.push_back(tag);
        out.push_back(static_cast<BYTE>(body.size()));
        for (BYTE b : body) out.push_back(b);
        return out;
    };
    auto cat = [](std::initializer_list<std::vector<BYTE>> parts) {
        std::vector<BYTE> out;
        for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    const std::vector<BYTE> sha256{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    const std::string when = "20240701000000Z";
    return wrap(0x30, cat({wrap(0x02, {1}), wrap(0x06, {0x2A, 0x03}),
                           wrap(0x30, cat({wrap(0x30, cat({wrap(0x06, sha256), wrap(0x05, {})})), wrap(0x04, digest)})),
                           wrap(0x02, {5}), wrap(0x18, std::vector<BYTE>(when.begin(), when.end()))}));
}

}  // namespace

TEST(CodeSignature, ATimestampCountsOnlyForTheSignatureItStamps)
{
    const std::vector<BYTE> info = TstInfo("the signature's value");
    const std::string mine = "the signature's value", other = "another signature";
    FILETIME when = {};
    std::string why;
    ASSERT_TRUE(ReadTstInfo(info.data(), static_cast<DWORD>(info.size()), reinterpret_cast<const BYTE*>(mine.data()),
                            static_cast<DWORD>(mine.size()), when, why))
        << why;
    SYSTEMTIME time = {};
    ::FileTimeToSystemTime(&when, &time);
    EXPECT_EQ(2024, time.wYear);
    EXPECT_EQ(7, time.wMonth);
    EXPECT_FALSE(ReadTstInfo(info.data(), static_cast<DWORD>(info.size()), reinterpret_cast<const BYTE*>(other.data()),
                             static_cast<DWORD>(other.size()), when, why));
    EXPECT_EQ("the timestamp is of another signature", why);
    // Cut anywhere, it does not parse (and nothing is read past its end).
    for (size_t size = 0; size < info.size(); ++size)
        EXPECT_FALSE(ReadTstInfo(info.data(), static_cast<DWORD>(size), reinterpret_cast<const BYTE*>(mine.data()),
                                 static_cast<DWORD>(mine.size()), when, why))
            << size;
}

TEST(CodeSignature, PortableExecutablesAreKnownByTheirBytes)
{
    EXPECT_TRUE(IsPortableExecutable(Signed("good").c_str()));
    EXPECT_TRUE(IsPortableExecutable(Signed("unsigned", "ZeltoAux.exe").c_str()));
    EXPECT_FALSE(IsPortableExecutable(Component("signers\\publisher.spki").c_str()));
    const std::string fake = ExeFolder() + "\\fake-pe.bin";
    {
        std::ofstream out(fake, std::ios::binary);
        std::string header(64, '\0');
        header[0] = 'M';
        header[1] = 'Z';
        header[0x3C] = '\x7F';   // e_lfanew past the end of the file
        out << header;
    }
    EXPECT_FALSE(IsPortableExecutable(fake.c_str()));
    ::DeleteFileA(fake.c_str());
}
