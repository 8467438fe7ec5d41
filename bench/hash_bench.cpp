// Hash benchmark: the program's SHA-256 (CSha256: CNG where the system has
// it) against the CryptoAPI's AES provider, on the same bytes in memory, and
// the cost of starting a hash (what a run with many files pays per file).
//
//   hash_bench FILE RUNS    prints the median MiB/s of each over FILE's bytes,
//                           the digest (to compare with sha256sum's), and the
//                           microseconds to hash 64 bytes from nothing
#include "sys/Sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Product(const std::vector<BYTE>& bytes)
{
    CSha256 hash;
    for (size_t at = 0; at < bytes.size(); at += 65536)
        hash.Update(bytes.data() + at, static_cast<DWORD>(std::min<size_t>(65536, bytes.size() - at)));
    return hash.HexDigest();
}

std::string CryptoApi(const std::vector<BYTE>& bytes)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return "";
    std::string text;
    if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        for (size_t at = 0; at < bytes.size(); at += 65536)
            ::CryptHashData(hash, bytes.data() + at, static_cast<DWORD>(std::min<size_t>(65536, bytes.size() - at)), 0);
        BYTE digest[32];
        DWORD size = sizeof(digest);
        if (::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0))
            for (BYTE b : digest) {
                char hex[3];
                std::snprintf(hex, sizeof(hex), "%02x", b);
                text += hex;
            }
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::printf("usage: hash_bench FILE RUNS\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    if (!in) return 1;
    std::vector<BYTE> bytes;
    BYTE buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), in)) > 0;) bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(in);
    const int runs = std::max(1, std::atoi(argv[2]));
    std::vector<double> product, legacy;
    std::string a, b;
    for (int i = 0; i < runs; ++i) {
        double t0 = Now();
        a = Product(bytes);
        double t1 = Now();
        b = CryptoApi(bytes);
        double t2 = Now();
        product.push_back(t1 - t0);
        legacy.push_back(t2 - t1);
    }
    const double mib = static_cast<double>(bytes.size()) / 1048576.0;
    std::printf("program (%s) median %.1f MiB/s\n", CSha256::UsesCng() ? "CNG" : "CryptoAPI", mib / Median(product));
    std::printf("CryptoAPI AES provider median %.1f MiB/s\n", mib / Median(legacy));
    std::printf("digest %s%s\n", a.c_str(), a == b ? "" : " (the CryptoAPI's differs!)");
    const std::vector<BYTE> small(64, 7);
    const int starts = 200;
    double t0 = Now();
    for (int i = 0; i < starts; ++i) Product(small);
    double t1 = Now();
    for (int i = 0; i < starts; ++i) CryptoApi(small);
    double t2 = Now();
    std::printf("a 64-byte hash from nothing: program %.0f us, CryptoAPI %.0f us\n", (t1 - t0) / starts * 1e6,
                (t2 - t1) / starts * 1e6);
    return a == b ? 0 : 1;
}
