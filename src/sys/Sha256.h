// SHA-256 through the system, fed piece by piece while the bytes arrive: CNG
// (bcrypt.dll, the processor's SHA instructions where it has them), or the
// CryptoAPI's AES provider on a system without CNG.
#pragma once

#include "base/Handles.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>

class CSha256 {
public:
    CSha256();   // false Valid() when the system offers no SHA-256
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    bool Valid() const { return m_hCngHash != nullptr || m_hHash.valid(); }
    bool Update(const void* data, DWORD size);
    // 64 lower-case hexadecimal digits; "" when the hash failed.
    std::string HexDigest();

    // The hash of a whole file, "" when it cannot be read.
    static std::string OfFile(const char* path);
    // True when text is exactly 64 hexadecimal digits (either case).
    static bool IsHexDigest(const std::string& text);
    // Compares two hexadecimal digests ignoring letter case.
    static bool Same(const std::string& a, const std::string& b);
    // Whether this system hashes through CNG (for the log and the benchmark).
    static bool UsesCng();

private:
    void* m_hCngHash = nullptr;   // a CNG hash object, when CNG is there
    zelto::ScopedCryptProvider m_hProvider;
    zelto::ScopedCryptHash m_hHash;
    bool m_bFailed = false;
};
