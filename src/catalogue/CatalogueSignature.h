// Signed catalogues: the catalogue file's signature (RSASSA-PKCS1-v1_5 with
// SHA-256, base64 text in "<catalogue URL>.sig") checked against the public
// keys built into the program. A build that names no key accepts unsigned
// catalogues.
#pragma once

#include <string>
#include <vector>

// The keys built into this program (PEM texts, "BEGIN PUBLIC KEY"): defined
// per program by the build (see cmake/CatalogueKeys.cmake).
extern const char* const ZELTO_CATALOGUE_KEYS[];
extern const int ZELTO_CATALOGUE_KEY_COUNT;
// True when one of them is the sample key, whose private half is public.
extern const bool ZELTO_CATALOGUE_SAMPLE_KEY;
// The publishers whose code signature every executable file an item
// delivers must carry: SHA-256s of SubjectPublicKeyInfos (64 lower-case
// hexadecimal digits), defined per program by the build like the keys.
extern const char* const ZELTO_SIGNER_PINS[];
extern const int ZELTO_SIGNER_PIN_COUNT;

// True when this program accepts only signed catalogues.
bool CatalogueSignatureRequired();

// True when signatureText (base64, line breaks allowed) is a signature of
// data by any one of keys (PEM texts). On false, why says what failed and
// error holds the system's error of the failing step (0 when none).
bool VerifyCatalogueSignature(const std::string& data, const std::string& signatureText,
                              const std::vector<std::string>& keys, std::string& why, unsigned long& error);

// The built-in keys as texts.
std::vector<std::string> BuiltInCatalogueKeys();
