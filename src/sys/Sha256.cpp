#include "sys/Sha256.h"

CSha256::CSha256()
{
    if (!::CryptAcquireContextA(m_hProvider.receive(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        m_hProvider.release();
        return;
    }
    if (!::CryptCreateHash(m_hProvider.get(), CALG_SHA_256, 0, 0, m_hHash.receive())) m_hHash.release();
}

bool CSha256::Update(const void* data, DWORD size)
{
    if (!m_hHash || m_bFailed) return false;
    if (size && !::CryptHashData(m_hHash.get(), static_cast<const BYTE*>(data), size, 0)) m_bFailed = true;
    return !m_bFailed;
}

std::string CSha256::HexDigest()
{
    BYTE digest[32];
    DWORD size = sizeof(digest);
    if (!m_hHash || m_bFailed || !::CryptGetHashParam(m_hHash.get(), HP_HASHVAL, digest, &size, 0) || size != 32)
        return std::string();
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
