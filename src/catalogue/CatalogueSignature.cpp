#include "catalogue/CatalogueSignature.h"

#include "base/Handles.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <memory>

namespace {

struct LocalFreer {
    void operator()(void* p) const { if (p) ::LocalFree(p); }
};

// A PEM public key ("BEGIN PUBLIC KEY") of 2048 to 4096 bits imported into
// provider; empty when it is no such key (the system's error stays set).
zelto::ScopedCryptKey ImportPublicKey(HCRYPTPROV provider, const std::string& pem)
{
    zelto::ScopedCryptKey key;
    DWORD derSize = 0;
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                &derSize, nullptr, nullptr))
        return key;
    std::vector<BYTE> der(derSize);
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                &derSize, nullptr, nullptr))
        return key;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize, CRYPT_DECODE_ALLOC_FLAG,
                               nullptr, &info, &infoSize))
        return key;
    std::unique_ptr<void, LocalFreer> owned(info);
    if (!::CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, info, key.receive())) {
        key.release();
        return key;
    }
    DWORD bits = 0, size = sizeof(bits);
    if (!::CryptGetKeyParam(key.get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &size, 0) || bits < 2048 ||
        bits > 4096) {
        key.reset();
        ::SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
    }
    return key;
}

// The SHA-256 hash of data in provider; empty when it cannot be made.
zelto::ScopedCryptHash HashOf(HCRYPTPROV provider, const std::string& data)
{
    zelto::ScopedCryptHash hash;
    if (!::CryptCreateHash(provider, CALG_SHA_256, 0, 0, hash.receive())) {
        hash.release();
        return hash;
    }
    if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0))
        hash.reset();
    return hash;
}

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

    zelto::ScopedCryptProvider provider;
    if (!::CryptAcquireContextA(provider.receive(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        provider.release();
        error = ::GetLastError();
        why = "the system offers no RSA and SHA-256 provider";
        return false;
    }
    why = keys.empty() ? "no key to check it with" : "no key verifies the signature";
    for (const std::string& pem : keys) {
        zelto::ScopedCryptKey key = ImportPublicKey(provider.get(), pem);
        if (!key) {
            error = ::GetLastError();
            continue;
        }
        zelto::ScopedCryptHash hash = HashOf(provider.get(), data);   // a hash verifies once: a new one per key
        if (!hash) {
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
