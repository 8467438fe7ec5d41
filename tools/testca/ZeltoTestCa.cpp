// ZeltoTestCa: puts a test authority's certificate into, or takes it out of,
// the machine's trusted root store of the Wine prefix it runs in, so that
// the https scenarios can trust the authority they made without touching
// the trust store of the system that runs them.
//
// Usage: ZeltoTestCa add|remove <certificate.pem>
// Exit code: 0 done, 1 failed (the reason on stderr), 2 usage.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool ReadPem(const char* path, std::vector<BYTE>& der)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::vector<char> text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) text.insert(text.end(), buffer, buffer + n);
    std::fclose(file);
    DWORD size = 0;
    if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                &size, nullptr, nullptr))
        return false;
    der.resize(size);
    return ::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                  &size, nullptr, nullptr) != FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: ZeltoTestCa add|remove <certificate.pem>\n");
        return 2;
    }
    std::vector<BYTE> der;
    if (!ReadPem(argv[2], der)) {
        std::fprintf(stderr, "%s: no PEM certificate (error %lu)\n", argv[2], ::GetLastError());
        return 1;
    }
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (!store) {
        std::fprintf(stderr, "the machine's ROOT store cannot be opened (error %lu)\n", ::GetLastError());
        return 1;
    }
    bool done = false;
    if (std::strcmp(argv[1], "add") == 0) {
        done = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    } else {
        PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                               static_cast<DWORD>(der.size()));
        PCCERT_CONTEXT found = wanted ? ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                                     wanted, nullptr)
                                      : nullptr;
        done = !found || ::CertDeleteCertificateFromStore(found) != FALSE;   // deleting frees found
        if (wanted) ::CertFreeCertificateContext(wanted);
    }
    if (!done) std::fprintf(stderr, "%s failed (error %lu)\n", argv[1], ::GetLastError());
    ::CertCloseStore(store, 0);
    return done ? 0 : 1;
}
