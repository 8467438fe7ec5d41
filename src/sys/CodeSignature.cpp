#include "sys/CodeSignature.h"

#include "base/Handles.h"
#include "sys/PinnedChain.h"
#include "sys/SignatureTimestamp.h"

#include <softpub.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

namespace {

GUID VerifyAction()
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return action;
}

// Results of WinVerifyTrust that say the file carries no signature it can read.
bool MeansUnsigned(LONG result)
{
    return result == TRUST_E_NOSIGNATURE || result == TRUST_E_SUBJECT_FORM_UNKNOWN ||
           result == TRUST_E_PROVIDER_UNKNOWN || result == static_cast<LONG>(CRYPT_E_FILE_ERROR) ||
           result == static_cast<LONG>(CRYPT_E_NO_MATCH);
}

// Results that refuse only the machine's trust in the chain (an authority
// not among its roots, an expired certificate): the signature and the digest
// verified. The pinned chain decides about those.
bool MeansChainOnly(LONG result)
{
    return result == CERT_E_UNTRUSTEDROOT || result == CERT_E_CHAINING || result == CERT_E_EXPIRED ||
           result == CERT_E_UNTRUSTEDTESTROOT || result == static_cast<LONG>(CERT_E_UNTRUSTEDCA) ||
           result == CERT_E_WRONG_USAGE || result == static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE) ||
           result == static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK);
}

// Closes WinVerifyTrust's state for data (once the signer has been read).
class VerifyState {
public:
    explicit VerifyState(WINTRUST_DATA& data) : m_data(data) {}
    ~VerifyState()
    {
        if (!m_data.hWVTStateData) return;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = VerifyAction();
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
    }
    VerifyState(const VerifyState&) = delete;
    VerifyState& operator=(const VerifyState&) = delete;

private:
    WINTRUST_DATA& m_data;
};

// The common name of the certificate a signature names as its signer, read
// from the message alone (for the log of a signature that does not verify).
std::string ClaimedSigner(const CRYPT_PROVIDER_DATA& provider)
{
    if (!provider.hMsg) return std::string();
    DWORD size = 0;
    if (!::CryptMsgGetParam(provider.hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) || size == 0)
        return std::string();
    std::vector<BYTE> info(size);
    if (!::CryptMsgGetParam(provider.hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) return std::string();
    for (DWORD i = 0; i < provider.chStores; ++i) {
        zelto::ScopedCertContext found(::CertGetSubjectCertificateFromStore(
            provider.pahStores[i], X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<PCERT_INFO>(info.data())));
        if (found) return CertificateName(found.get());
    }
    return std::string();
}

std::wstring Widen(const char* path)
{
    // The path is in the system code page; the conversion names it.
    int length = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

}  // namespace

SignatureVerdict ClassifyVerifyResult(LONG result, bool providerData, bool digestAndSignatureVerified)
{
    if (MeansUnsigned(result)) return SignatureVerdict::Unsigned;
    if (result == 0) return providerData ? SignatureVerdict::Trusted : SignatureVerdict::Tampered;
    return providerData && MeansChainOnly(result) && digestAndSignatureVerified ? SignatureVerdict::Trusted
                                                                                : SignatureVerdict::Tampered;
}

bool IsPortableExecutable(const char* path)
{
    zelto::ScopedFile file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    BYTE header[64];
    DWORD read = 0;
    if (!::ReadFile(file.get(), header, sizeof(header), &read, nullptr) || read != sizeof(header) ||
        header[0] != 'M' || header[1] != 'Z')
        return false;
    DWORD offset = 0;
    std::memcpy(&offset, header + 0x3C, sizeof(offset));
    BYTE signature[4];
    if (::SetFilePointer(file.get(), static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        offset > 0x7FFFFFFF || !::ReadFile(file.get(), signature, sizeof(signature), &read, nullptr) ||
        read != sizeof(signature))
        return false;
    return std::memcmp(signature, "PE\0\0", 4) == 0;
}

CCodeSignature::CCodeSignature(const char* path) : m_wPath(Widen(path))
{
    ::GetSystemTimeAsFileTime(&m_signingTime);
    // Opened here, so that nobody writes it while it is read and no handle
    // outlives the check (the system's own would stay open until the state
    // is closed, and under Wine past that).
    zelto::ScopedFile held(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) {
        m_status = HRESULT_FROM_WIN32(::GetLastError());
        return;   // nothing to read a signature of: unsigned
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = m_wPath.c_str();
    file.hFile = held.get();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Nothing is fetched from the network: revocation only from the cache.
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = VerifyAction();
    const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    VerifyState state(data);   // closed before the file's handle
    m_status = result;

    CRYPT_PROVIDER_DATA* provider =
        data.hWVTStateData ? ::WTHelperProvDataFromStateData(data.hWVTStateData) : nullptr;
    // Where the machine's trust refused the chain, the digest and the
    // signature themselves must have verified.
    const DWORD* steps = provider ? provider->padwTrustStepErrors : nullptr;
    const bool verified = steps && provider->cdwTrustStepErrors > TRUSTERROR_STEP_FINAL_SIGPROV &&
                          steps[TRUSTERROR_STEP_FINAL_OBJPROV] == 0 && steps[TRUSTERROR_STEP_FINAL_SIGPROV] == 0;
    m_verdict = ClassifyVerifyResult(result, provider != nullptr, verified);
    if (m_verdict != SignatureVerdict::Trusted) {
        if (m_verdict == SignatureVerdict::Tampered && provider) m_subject = ClaimedSigner(*provider);
        return;
    }
    ReadSigner(provider);
}

void CCodeSignature::ReadSigner(void* providerData)
{
    auto* provider = static_cast<CRYPT_PROVIDER_DATA*>(providerData);
    CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain[0].pCert || !provider->hMsg) {
        m_verdict = SignatureVerdict::Tampered;
        if (m_status == 0) m_status = TRUST_E_NO_SIGNER_CERT;
        return;
    }
    m_pSigner.reset(::CertDuplicateCertificateContext(signer->pasCertChain[0].pCert));
    // The certificates the signature carries (and, on Windows, the system
    // stores the provider opened beside them), in one collection that holds
    // its own references past the provider's state.
    m_hMessageStore.reset(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    for (DWORD i = 0; m_hMessageStore && i < provider->chStores; ++i)
        if (provider->pahStores[i]) ::CertAddStoreToCollection(m_hMessageStore.get(), provider->pahStores[i], 0, 0);
    m_subject = CertificateName(m_pSigner.get());
    if (signer->psSigner) {
        // Kept for the timestamp, which is judged against the pins.
        DWORD size = 0;
        if (::CryptMsgGetParam(provider->hMsg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size > 0) {
            m_signerInfo.resize(size);
            if (!::CryptMsgGetParam(provider->hMsg, CMSG_SIGNER_INFO_PARAM, 0, m_signerInfo.data(), &size))
                m_signerInfo.clear();
        }
    }
    m_verdict = SignatureVerdict::Trusted;
}

CCodeSignature::~CCodeSignature() = default;

SignatureVerdict CCodeSignature::Matches(const SignerPins& pins, LONG& status, std::string& reason) const
{
    if (m_verdict != SignatureVerdict::Trusted) {
        status = m_status;
        reason = m_verdict == SignatureVerdict::Unsigned ? "not signed" : "its bytes differ from what its signature covers";
        return m_verdict;
    }
    // A timestamp that holds moves the judgement to the time it names; one
    // that does not is passed over (the chain is judged now).
    FILETIME at = m_signingTime;
    m_bTimestamped = false;
    m_timestampProblem.clear();
    if (!m_signerInfo.empty()) {
        std::string why;
        FILETIME stamped = {};
        if (VerifiedTimestamp(*reinterpret_cast<const CMSG_SIGNER_INFO*>(m_signerInfo.data()), pins, stamped, why)) {
            at = stamped;
            m_bTimestamped = true;
        } else {
            m_timestampProblem = why;
        }
    }
    return JudgePinnedChain(m_pSigner.get(), m_hMessageStore.get(), pins, at, szOID_PKIX_KP_CODE_SIGNING, status, reason);
}
