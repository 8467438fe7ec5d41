// Which keys may sign catalogues, and how that changes without a new
// program: a keys document, published beside the catalogues as
// ".../Repository/keys/<version>.xml" with "<version>.xml.sig", names
//   <ZELTOKEYS VERSION="n" EXPIRES="YYYY-MM-DDTHH:MM:SSZ" THRESHOLD="t">
//     <ROOT>PEM</ROOT>...               the root keys of this version
//     <CATALOGUEKEY>PEM</CATALOGUEKEY>...  the keys that may sign catalogues
//     <REVOKED>key id</REVOKED>...      keys that may no longer sign anything
//                                       (for good: later versions cannot take it back)
//   </ZELTOKEYS>
// Its signature file holds one line per root key that signed it:
// "<key id> <base64 signature>". Version n+1 counts only when at least the
// threshold of version n's root keys and the threshold of its own signed it,
// so that a root key is replaced the way a catalogue key is. The program's
// own keys (catalogue keys, root keys and threshold built into it) are
// version 1. A key's id is the SHA-256 of its public key's DER bytes, in
// lower-case hexadecimal.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

struct KeySet {
    unsigned version = 1;
    std::vector<std::string> roots;           // PEM texts
    unsigned threshold = 0;
    std::vector<std::string> catalogueKeys;   // PEM texts
    std::set<std::string> revoked;            // key ids
    std::string document;                     // the document's bytes ("" for the built-in version)
};

// The id of a PEM public key; "" when it is none.
std::string KeyId(const std::string& pem);

// The keys built into this program, as version 1.
KeySet BuiltInKeySet();
// The newest keys document this machine verified (HKLM), else the built-in keys.
KeySet HeldKeySet();
// Keeps document (verified as version set.version) as the held one; false
// when it could not be written.
bool StoreKeySet(const KeySet& set);

// The catalogue keys of set that are not revoked.
std::vector<std::string> ActiveCatalogueKeys(const KeySet& set);
// The ids of those keys, sorted: two sets that differ here change which
// catalogues verify.
std::vector<std::string> ActiveCatalogueKeyIds(const KeySet& set);

// Reads a keys document; false with why when it is no well-formed one (no
// VERSION, no root key, a threshold outside 1..roots, no catalogue key, a
// key that is no RSA public key).
bool ReadKeysDocument(const std::string& document, KeySet& set, ULONGLONG& expires, bool& hasExpiry,
                      std::string& why);

// The decision on the document fetched as version held.version + 1: 0 when
// it may be held from now on (next filled), else the LastError code
// (1023 not the next version, 1024 signed below a threshold, 1025 expired or
// without EXPIRES, 1026 unreadable) and why in words. now: FILETIME (UTC).
DWORD JudgeKeysDocument(const KeySet& held, const std::string& document, const std::string& signatures,
                        ULONGLONG now, KeySet& next, std::string& why);

// Where the held document is kept, below HKEY_LOCAL_MACHINE (values
// "Document", and "Revoked": every id a held version revoked).
constexpr const char* kKeysKey = "Software\\QRV Corporation\\ZeltoSetup\\Keys";

// The root keys and threshold built into the program: defined per program by
// the build (cmake/CatalogueKeys.cmake), like the catalogue keys.
extern const char* const ZELTO_ROOT_KEYS[];
extern const int ZELTO_ROOT_KEY_COUNT;
extern const int ZELTO_ROOT_THRESHOLD;
