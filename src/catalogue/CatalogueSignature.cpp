#include "catalogue/CatalogueSignature.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <memory>

namespace {

struct LocalFreer {
    void operator()(void* p) const { if (p) ::LocalFree(p); }
};

// The provider and a key imported from a PEM public key; closed with the holder.
class CPublicKey {
public:
    CPublicKey(HCRYPTPROV provider, const std::string& pem)
    {
        DWORD derSize = 0;
        if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                    &derSize, nullptr, nullptr))
            return;
        std::vector<BYTE> der(derSize);
        if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                    &derSize, nullptr, nullptr))
            return;
        CERT_PUBLIC_KEY_INFO* info = nullptr;
        DWORD infoSize = 0;
        if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize,
                                   CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &infoSize))
            return;
        std::unique_ptr<void, LocalFreer> owned(info);
        if (!::CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, info, &m_hKey)) {
            m_hKey = 0;
            return;
        }
        // RSA keys of 2048 to 4096 bits only.
        DWORD bits = 0, size = sizeof(bits);
        if (!::CryptGetKeyParam(m_hKey, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &size, 0) || bits < 2048 ||
            bits > 4096) {
            ::CryptDestroyKey(m_hKey);
            m_hKey = 0;
            ::SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        }
    }
    ~CPublicKey()
    {
        if (m_hKey) ::CryptDestroyKey(m_hKey);
    }
    CPublicKey(const CPublicKey&) = delete;
    CPublicKey& operator=(const CPublicKey&) = delete;
    HCRYPTKEY get() const { return m_hKey; }

private:
    HCRYPTKEY m_hKey = 0;
};

class CProvider {
public:
    CProvider()
    {
        if (!::CryptAcquireContextA(&m_hProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) m_hProvider = 0;
    }
    ~CProvider()
    {
        if (m_hProvider) ::CryptReleaseContext(m_hProvider, 0);
    }
    CProvider(const CProvider&) = delete;
    CProvider& operator=(const CProvider&) = delete;
    HCRYPTPROV get() const { return m_hProvider; }

private:
    HCRYPTPROV m_hProvider = 0;
};

class CHash {
public:
    CHash(HCRYPTPROV provider, const std::string& data)
    {
        if (!::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &m_hHash)) {
            m_hHash = 0;
            return;
        }
        if (!::CryptHashData(m_hHash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0)) {
            ::CryptDestroyHash(m_hHash);
            m_hHash = 0;
        }
    }
    ~CHash()
    {
        if (m_hHash) ::CryptDestroyHash(m_hHash);
    }
    CHash(const CHash&) = delete;
    CHash& operator=(const CHash&) = delete;
    HCRYPTHASH get() const { return m_hHash; }

private:
    HCRYPTHASH m_hHash = 0;
};

}  // namespace

bool CatalogueSignatureRequired()
{
    return ZELTO_CATALOGUE_KEY_COUNT > 0;
}

std::vector<std::string> BuiltInCatalogueKeys()
{
    return std::vector<std::string>(ZELTO_CATALOGUE_KEYS, ZELTO_CATALOGUE_KEYS + ZELTO_CATALOGUE_KEY_COUNT);
}

bool VerifyCatalogueSignature(const std::string& data, const std::string& signatureText,
                              const std::vector<std::string>& keys, std::string& why, unsigned long& error)
{
    error = 0;
    // The base64 text: blanks and line breaks between its characters allowed.
    std::string text;
    for (char c : signatureText)
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') text += c;
    if (text.empty()) {
        why = "the signature is empty";
        return false;
    }
    DWORD size = 0;
    if (!::CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr, &size,
                                nullptr, nullptr) ||
        size == 0) {
        error = ::GetLastError();
        why = "the signature is not base64 text";
        return false;
    }
    std::vector<BYTE> signature(size);
    if (!::CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, signature.data(),
                                &size, nullptr, nullptr)) {
        error = ::GetLastError();
        why = "the signature is not base64 text";
        return false;
    }
    signature.resize(size);
    // openssl writes the signature big-endian; CryptoAPI reads it little-endian.
    std::reverse(signature.begin(), signature.end());

    CProvider provider;
    if (!provider.get()) {
        error = ::GetLastError();
        why = "the system offers no RSA and SHA-256 provider";
        return false;
    }
    why = keys.empty() ? "no key to check it with" : "no key verifies the signature";
    for (const std::string& pem : keys) {
        CPublicKey key(provider.get(), pem);
        if (!key.get()) {
            error = ::GetLastError();
            continue;
        }
        CHash hash(provider.get(), data);   // a hash verifies once: a new one per key
        if (!hash.get()) {
            error = ::GetLastError();
            why = "the catalogue could not be hashed";
            return false;
        }
        if (::CryptVerifySignatureA(hash.get(), signature.data(), static_cast<DWORD>(signature.size()), key.get(),
                                    nullptr, 0))
            return true;
        error = ::GetLastError();
    }
    return false;
}
