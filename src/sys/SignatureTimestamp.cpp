#include "sys/SignatureTimestamp.h"

#include "base/Handles.h"
#include "sys/PinnedChain.h"

#include <cstring>
#include <vector>

namespace {

// The timestamp attribute of an Authenticode signer (RFC 3161, as signtool
// /tr and osslsigncode -ts write it).
constexpr char kRfc3161Attribute[] = "1.3.6.1.4.1.311.3.3.1";

// One DER element: its tag and its contents.
struct DerReader {
    const BYTE* at;
    size_t left;

    // The next element; false when it does not fit or uses a form DER has not.
    bool Next(BYTE& tag, DerReader& contents)
    {
        if (left < 2) return false;
        tag = at[0];
        if ((tag & 0x1F) == 0x1F) return false;   // high tag numbers: never in a TSTInfo
        size_t length = at[1];
        size_t header = 2;
        if (length & 0x80) {
            const size_t bytes = length & 0x7F;
            if (bytes == 0 || bytes > 4 || left < 2 + bytes) return false;
            length = 0;
            for (size_t i = 0; i < bytes; ++i) length = (length << 8) | at[2 + i];
            header += bytes;
        }
        if (length > left - header) return false;
        contents = {at + header, length};
        at += header + length;
        left -= header + length;
        return true;
    }
    bool Expect(BYTE wanted, DerReader& contents)
    {
        BYTE tag = 0;
        return Next(tag, contents) && tag == wanted;
    }
};

ALG_ID HashOfOid(const DerReader& oid)
{
    static const BYTE sha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
    static const BYTE sha2[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02};
    if (oid.left == sizeof(sha1) && std::memcmp(oid.at, sha1, sizeof(sha1)) == 0) return CALG_SHA1;
    if (oid.left == sizeof(sha2) + 1 && std::memcmp(oid.at, sha2, sizeof(sha2)) == 0) {
        switch (oid.at[sizeof(sha2)]) {
        case 1: return CALG_SHA_256;
        case 2: return CALG_SHA_384;
        case 3: return CALG_SHA_512;
        default: break;
        }
    }
    return 0;
}

std::vector<BYTE> HashWith(ALG_ID algorithm, const BYTE* data, DWORD size)
{
    zelto::ScopedCryptProvider provider;
    HCRYPTPROV rawProvider = 0;
    if (!::CryptAcquireContextA(&rawProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return {};
    provider.reset(rawProvider);
    HCRYPTHASH rawHash = 0;
    if (!::CryptCreateHash(rawProvider, algorithm, 0, 0, &rawHash)) return {};
    zelto::ScopedCryptHash hash(rawHash);
    BYTE out[64];
    DWORD length = sizeof(out);
    if (!::CryptHashData(rawHash, data, size, 0) || !::CryptGetHashParam(rawHash, HP_HASHVAL, out, &length, 0))
        return {};
    return std::vector<BYTE>(out, out + length);
}

int Digits(const BYTE* text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "YYYYMMDDHHMMSS[.fraction]Z", as DER writes a GeneralizedTime.
bool ParseGeneralizedTime(const DerReader& text, FILETIME& when)
{
    if (text.left < 15 || text.at[text.left - 1] != 'Z') return false;
    SYSTEMTIME time = {};
    const int year = Digits(text.at, 4), month = Digits(text.at + 4, 2), day = Digits(text.at + 6, 2);
    const int hour = Digits(text.at + 8, 2), minute = Digits(text.at + 10, 2), second = Digits(text.at + 12, 2);
    if (year < 1601 || month < 1 || day < 1 || hour < 0 || minute < 0 || second < 0) return false;
    if (text.left > 15 && text.at[14] != '.') return false;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    return ::SystemTimeToFileTime(&time, &when) != FALSE;
}

// A parameter of a decoded message, in a buffer of its size.
std::vector<BYTE> MessageParam(HCRYPTMSG message, DWORD type, DWORD index)
{
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0) return {};
    std::vector<BYTE> data(size);
    if (!::CryptMsgGetParam(message, type, index, data.data(), &size)) return {};
    data.resize(size);
    return data;
}

const CRYPT_ATTRIBUTE* FindAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid)
{
    for (DWORD i = 0; i < attributes.cAttr; ++i)
        if (attributes.rgAttr[i].pszObjId && std::strcmp(attributes.rgAttr[i].pszObjId, oid) == 0 &&
            attributes.rgAttr[i].cValue > 0)
            return &attributes.rgAttr[i];
    return nullptr;
}

// The authority's signer verifies and its messageDigest is the content's hash.
bool SignedContent(HCRYPTMSG message, PCCERT_CONTEXT authority, const std::vector<BYTE>& content, std::string& why)
{
    if (!::CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE, authority->pCertInfo)) {
        why = "the timestamp's signature does not verify";
        return false;
    }
    std::vector<BYTE> info = MessageParam(message, CMSG_SIGNER_INFO_PARAM, 0);
    if (info.empty()) {
        why = "the timestamp names no signer";
        return false;
    }
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
    const CRYPT_ATTRIBUTE* digest = FindAttribute(signer->AuthAttrs, szOID_RSA_messageDigest);
    const ALG_ID algorithm = signer->HashAlgorithm.pszObjId ? ::CertOIDToAlgId(signer->HashAlgorithm.pszObjId) : 0;
    if (!digest || algorithm == 0) {
        why = "the timestamp carries no digest of its content";
        return false;
    }
    // The attribute's value is a DER OCTET STRING.
    DerReader value{digest->rgValue[0].pbData, digest->rgValue[0].cbData};
    DerReader octets{};
    const std::vector<BYTE> hash = HashWith(algorithm, content.data(), static_cast<DWORD>(content.size()));
    if (!value.Expect(0x04, octets) || hash.empty() || octets.left != hash.size() ||
        std::memcmp(octets.at, hash.data(), hash.size()) != 0) {
        why = "the timestamp's content differs from what its authority signed";
        return false;
    }
    return true;
}

// The authority's chain at the stamped time: to a pinned certificate, or to
// the machine's trusted roots, for time stamping.
bool AuthorityTrusted(PCCERT_CONTEXT authority, HCERTSTORE carried, const SignerPins& pins, const FILETIME& when)
{
    LONG status = 0;
    std::string reason;
    if (JudgePinnedChain(authority, carried, pins, when, szOID_PKIX_KP_TIMESTAMP_SIGNING, status, reason) ==
        SignatureVerdict::Trusted)
        return true;
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof(para);
    LPSTR usages[1] = {const_cast<LPSTR>(szOID_PKIX_KP_TIMESTAMP_SIGNING)};
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    zelto::ScopedCertChain chain;
    FILETIME at = when;
    if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, authority, &at, carried, &para,
                                   CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL,
                                   nullptr, chain.receive()) ||
        !chain)
        return false;
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    CERT_CHAIN_POLICY_STATUS result = {};
    result.cbSize = sizeof(result);
    return ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &policy, &result) &&
           result.dwError == 0 && !(chain.get()->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_VALID_FOR_USAGE);
}

}  // namespace

bool ReadTstInfo(const BYTE* der, DWORD size, const BYTE* signatureValue, DWORD signatureSize, FILETIME& when,
                 std::string& why)
{
    why = "the timestamp does not parse";
    DerReader input{der, size}, info{}, field{}, imprint{}, algorithm{}, oid{}, hashed{};
    if (!input.Expect(0x30, info)) return false;
    if (!info.Expect(0x02, field) || !info.Expect(0x06, field)) return false;   // version, policy
    if (!info.Expect(0x30, imprint) || !imprint.Expect(0x30, algorithm) || !algorithm.Expect(0x06, oid) ||
        !imprint.Expect(0x04, hashed))
        return false;
    DerReader serial{}, generated{};
    if (!info.Expect(0x02, serial) || !info.Expect(0x18, generated)) return false;
    const ALG_ID hash = HashOfOid(oid);
    if (hash == 0) {
        why = "the timestamp's imprint uses an unknown hash";
        return false;
    }
    const std::vector<BYTE> expected = HashWith(hash, signatureValue, signatureSize);
    if (expected.empty() || hashed.left != expected.size() ||
        std::memcmp(hashed.at, expected.data(), expected.size()) != 0) {
        why = "the timestamp is of another signature";
        return false;
    }
    if (!ParseGeneralizedTime(generated, when)) return false;
    why.clear();
    return true;
}

bool VerifiedTimestamp(const CMSG_SIGNER_INFO& signer, const SignerPins& pins, FILETIME& when, std::string& why)
{
    why.clear();
    const CRYPT_ATTRIBUTE* stamp = FindAttribute(signer.UnauthAttrs, kRfc3161Attribute);
    if (!stamp) return false;

    zelto::ScopedCryptMsg message(
        ::CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
    if (!message || !::CryptMsgUpdate(message.get(), stamp->rgValue[0].pbData, stamp->rgValue[0].cbData, TRUE)) {
        why = "the timestamp is no signed message";
        return false;
    }
    std::vector<BYTE> content = MessageParam(message.get(), CMSG_CONTENT_PARAM, 0);
    // Some systems hand back a content of another type than data still
    // wrapped in its OCTET STRING: the TSTInfo is what it holds.
    if (!content.empty() && content[0] == 0x04) {
        DerReader whole{content.data(), content.size()}, inner{};
        BYTE tag = 0;
        if (whole.Next(tag, inner) && whole.left == 0) content.assign(inner.at, inner.at + inner.left);
    }
    std::vector<BYTE> signerInfo = MessageParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0);
    zelto::ScopedCertStore carried(
        ::CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, message.get()));
    if (content.empty() || signerInfo.empty() || !carried) {
        why = "the timestamp carries no content or no signer";
        return false;
    }
    zelto::ScopedCertContext authority(::CertGetSubjectCertificateFromStore(
        carried.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<PCERT_INFO>(signerInfo.data())));
    if (!authority) {
        why = "the timestamp's authority certificate is missing";
        return false;
    }
    if (!SignedContent(message.get(), authority.get(), content, why)) return false;
    FILETIME stamped = {};
    if (!ReadTstInfo(content.data(), static_cast<DWORD>(content.size()), signer.EncryptedHash.pbData,
                     signer.EncryptedHash.cbData, stamped, why))
        return false;
    if (!AuthorityTrusted(authority.get(), carried.get(), pins, stamped)) {
        why = "the timestamp's authority is not trusted";
        return false;
    }
    when = stamped;
    return true;
}
