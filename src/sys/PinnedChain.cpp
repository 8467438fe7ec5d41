#include "sys/PinnedChain.h"

#include "base/Handles.h"
#include "sys/Sha256.h"

#include <cstddef>
#include <vector>

namespace {

bool SpkiPinned(const std::string& spki, const SignerPins& pins)
{
    if (spki.empty()) return false;
    for (const CSignerPin& pin : pins)
        if (pin.spkiSha256 == spki) return true;
    return false;
}

// A pin of this key that accepts this subject (a pin without one accepts any).
bool PinAccepts(const std::string& spki, const std::string& subject, const SignerPins& pins)
{
    for (const CSignerPin& pin : pins)
        if (!spki.empty() && pin.spkiSha256 == spki && (pin.subject.empty() || pin.subject == subject)) return true;
    return false;
}

// The faults of one certificate of the chain that refuse it, up to the pinned one.
LONG FaultOf(DWORD error)
{
    if (error & CERT_TRUST_IS_REVOKED) return CRYPT_E_REVOKED;
    if (error & CERT_TRUST_IS_NOT_TIME_VALID) return CERT_E_EXPIRED;
    if (error & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return TRUST_E_CERT_SIGNATURE;
    if (error & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return CERT_E_WRONG_USAGE;
    if (error & (CERT_TRUST_INVALID_BASIC_CONSTRAINTS | CERT_TRUST_INVALID_EXTENSION |
                 CERT_TRUST_INVALID_POLICY_CONSTRAINTS | CERT_TRUST_INVALID_NAME_CONSTRAINTS |
                 CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT |
                 CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT | CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT |
                 CERT_TRUST_IS_CYCLIC))
        return CERT_E_CHAINING;
    // Revocation unknown or offline (nothing cached: no network is asked),
    // an untrusted root above a pinned certificate and a partial chain above
    // it are no faults of the certificates that count.
    return 0;
}

}  // namespace

std::string SpkiSha256(PCCERT_CONTEXT certificate)
{
    if (!certificate) return std::string();
    DWORD size = 0;
    CERT_PUBLIC_KEY_INFO* key = &certificate->pCertInfo->SubjectPublicKeyInfo;
    if (!::CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, nullptr, &size) || size == 0)
        return std::string();
    std::vector<BYTE> der(size);
    if (!::CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, der.data(), &size)) return std::string();
    CSha256 hash;
    if (!hash.Update(der.data(), size)) return std::string();
    return hash.HexDigest();
}

std::string CertificateName(PCCERT_CONTEXT certificate)
{
    char name[256] = {};
    if (certificate)
        ::CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name,
                             sizeof(name));
    return name;
}

SignatureVerdict JudgePinnedChain(PCCERT_CONTEXT certificate, HCERTSTORE extra, const SignerPins& pins,
                                  const FILETIME& at, LPCSTR usage, LONG& status, std::string& reason)
{
    status = CERT_E_UNTRUSTEDROOT;
    const std::string subject = CertificateName(certificate);

    // The anchors: the certificates the signature carries whose key is pinned.
    zelto::ScopedCertStore anchors(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!anchors) {
        status = HRESULT_FROM_WIN32(::GetLastError());
        reason = "no certificate store";
        return SignatureVerdict::NotPinned;
    }
    int anchored = 0;
    for (PCCERT_CONTEXT found = nullptr; extra && (found = ::CertEnumCertificatesInStore(extra, found));) {
        if (SpkiPinned(SpkiSha256(found), pins) &&
            ::CertAddCertificateContextToStore(anchors.get(), found, CERT_STORE_ADD_USE_EXISTING, nullptr))
            ++anchored;
    }
    if (SpkiPinned(SpkiSha256(certificate), pins) &&
        ::CertAddCertificateContextToStore(anchors.get(), certificate, CERT_STORE_ADD_USE_EXISTING, nullptr))
        ++anchored;
    if (anchored == 0) {
        reason = "no certificate of its chain is pinned";
        return SignatureVerdict::NotPinned;
    }

    // The engine's configuration as Windows 7 knows it (up to
    // hExclusiveTrustedPeople): later fields are refused by older systems.
    CERT_CHAIN_ENGINE_CONFIG config = {};
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveTrustedPeople) + sizeof(HCERTSTORE);
    config.hExclusiveRoot = anchors.get();
    HCERTCHAINENGINE rawEngine = nullptr;
    if (!::CertCreateCertificateChainEngine(&config, &rawEngine)) {
        status = HRESULT_FROM_WIN32(::GetLastError());
        reason = "the chain engine could not be made";
        return SignatureVerdict::NotPinned;
    }
    zelto::ScopedCertChainEngine engine(rawEngine);

    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof(para);
    LPSTR usages[1] = {const_cast<LPSTR>(usage)};
    if (usage) {
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    }
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    FILETIME when = at;
    if (!::CertGetCertificateChain(rawEngine, certificate, &when, extra, &para,
                                   CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL,
                                   nullptr, &rawChain) ||
        !rawChain) {
        status = HRESULT_FROM_WIN32(::GetLastError());
        reason = "its chain could not be built";
        return SignatureVerdict::NotPinned;
    }
    zelto::ScopedCertChain chain(rawChain);
    if (chain.get()->cChain == 0 || chain.get()->rgpChain[0]->cElement == 0) {
        reason = "its chain is empty";
        return SignatureVerdict::NotPinned;
    }

    const CERT_SIMPLE_CHAIN& simple = *chain.get()->rgpChain[0];
    const bool usageFault = usage && (chain.get()->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_VALID_FOR_USAGE);
    bool keyPinned = false;
    for (DWORD i = 0; i < simple.cElement; ++i) {
        const CERT_CHAIN_ELEMENT& element = *simple.rgpElement[i];
        const std::string spki = SpkiSha256(element.pCertContext);
        LONG fault = FaultOf(element.TrustStatus.dwErrorStatus);
        if (fault == 0 && usageFault) fault = CERT_E_WRONG_USAGE;
        // Faults count from the certificate itself up to the pinned one.
        if (fault != 0) {
            status = fault;
            reason = fault == CERT_E_EXPIRED ? "a certificate of its chain was not valid at the signing time"
                                             : "a certificate of its chain is refused";
            return fault == TRUST_E_CERT_SIGNATURE ? SignatureVerdict::NotPinned : SignatureVerdict::NotValid;
        }
        if (PinAccepts(spki, subject, pins)) {
            status = 0;
            reason.clear();
            return SignatureVerdict::Trusted;
        }
        keyPinned = keyPinned || SpkiPinned(spki, pins);
    }
    reason = keyPinned ? "its subject is not the one pinned" : "its chain reaches no pinned certificate";
    return SignatureVerdict::NotPinned;
}
