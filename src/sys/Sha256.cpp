#include "sys/Sha256.h"

#include "base/SystemLibrary.h"

#include <bcrypt.h>

namespace {

// CNG's hash functions, looked up in the system folder's bcrypt.dll once: a
// system without it (before Vista) hashes through the CryptoAPI.
struct Cng {
    using CreateHashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
    using HashDataFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using FinishHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using DestroyHashFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
    using OpenFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
    CreateHashFn createHash = nullptr;
    HashDataFn hashData = nullptr;
    FinishHashFn finishHash = nullptr;
    DestroyHashFn destroyHash = nullptr;
    // One algorithm handle for the process: CNG lets threads share it (each
    // hash object stays with its own thread).
    BCRYPT_ALG_HANDLE algorithm = nullptr;
};

template <typename Fn>
Fn Lookup(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const Cng& TheCng()
{
    static const Cng cng = [] {
        Cng found;
        HMODULE module = LoadSystemLibrary("bcrypt.dll");   // kept for the process's life
        if (!module) return found;
        auto open = Lookup<Cng::OpenFn>(module, "BCryptOpenAlgorithmProvider");
        found.createHash = Lookup<Cng::CreateHashFn>(module, "BCryptCreateHash");
        found.hashData = Lookup<Cng::HashDataFn>(module, "BCryptHashData");
        found.finishHash = Lookup<Cng::FinishHashFn>(module, "BCryptFinishHash");
        found.destroyHash = Lookup<Cng::DestroyHashFn>(module, "BCryptDestroyHash");
        if (!open || !found.createHash || !found.hashData || !found.finishHash || !found.destroyHash ||
            !BCRYPT_SUCCESS(open(&found.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            found.algorithm = nullptr;
        return found;
    }();
    return cng;
}

}  // namespace

bool CSha256::UsesCng()
{
    return TheCng().algorithm != nullptr;
}

CSha256::CSha256()
{
    const Cng& cng = TheCng();
    if (cng.algorithm) {
        // The provider keeps the hash object's memory (Windows 7 and later).
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (BCRYPT_SUCCESS(cng.createHash(cng.algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
            m_hCngHash = hash;
            return;
        }
    }
    if (!::CryptAcquireContextA(m_hProvider.receive(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        m_hProvider.release();
        return;
    }
    if (!::CryptCreateHash(m_hProvider.get(), CALG_SHA_256, 0, 0, m_hHash.receive())) m_hHash.release();
}

CSha256::~CSha256()
{
    if (m_hCngHash) TheCng().destroyHash(m_hCngHash);
}

bool CSha256::Update(const void* data, DWORD size)
{
    if (!Valid() || m_bFailed) return false;
    if (size == 0) return true;
    if (m_hCngHash) {
        if (!BCRYPT_SUCCESS(TheCng().hashData(m_hCngHash, static_cast<PUCHAR>(const_cast<void*>(data)), size, 0)))
            m_bFailed = true;
    } else if (!::CryptHashData(m_hHash.get(), static_cast<const BYTE*>(data), size, 0)) {
        m_bFailed = true;
    }
    return !m_bFailed;
}

std::string CSha256::HexDigest()
{
    BYTE digest[32];
    DWORD size = sizeof(digest);
    if (!Valid() || m_bFailed) return std::string();
    if (m_hCngHash) {
        // A CNG hash is finished once: a second digest is refused.
        const bool done = BCRYPT_SUCCESS(TheCng().finishHash(m_hCngHash, digest, sizeof(digest), 0));
        m_bFailed = true;
        if (!done) return std::string();
    } else if (!::CryptGetHashParam(m_hHash.get(), HP_HASHVAL, digest, &size, 0) || size != 32) {
        return std::string();
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : digest) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::string CSha256::OfFile(const char* path)
{
    zelto::ScopedFile file(::CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::string();
    CSha256 hash;
    BYTE buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) return std::string();
        if (read == 0) break;
        if (!hash.Update(buffer, read)) return std::string();
    }
    return hash.HexDigest();
}

bool CSha256::IsHexDigest(const std::string& text)
{
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

bool CSha256::Same(const std::string& a, const std::string& b)
{
    return IsHexDigest(a) && IsHexDigest(b) && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}
