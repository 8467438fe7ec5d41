#include "catalogue/KeyChain.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "catalogue/CatalogueFreshness.h"
#include "catalogue/CatalogueSignature.h"
#include "sys/RegKey.h"
#include "sys/Sha256.h"

#include <wincrypt.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>

namespace {

// The most a held document may be (what a fetch may bring).
constexpr DWORD kMaxDocumentBytes = 256 * 1024;

std::string Lower(std::string text)
{
    if (!text.empty()) ::CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// "<key id> <base64>" lines: the signature of each root key that signed.
std::vector<std::pair<std::string, std::string>> SignatureLines(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> lines;
    size_t at = 0;
    while (at < text.size() && lines.size() < 64) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trimmed(text.substr(at, end - at));
        at = end + 1;
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        lines.emplace_back(Lower(line.substr(0, blank)), Trimmed(line.substr(blank + 1)));
    }
    return lines;
}

// How many of roots (distinct keys, none revoked) signed document, each
// with the line of its id.
unsigned SignersAmong(const std::vector<std::string>& roots, const std::set<std::string>& revoked,
                      const std::string& document, const std::vector<std::pair<std::string, std::string>>& lines)
{
    unsigned count = 0;
    std::set<std::string> counted;
    for (const std::string& root : roots) {
        const std::string id = KeyId(root);
        if (id.empty() || revoked.count(id) || !counted.insert(id).second) continue;
        for (const auto& line : lines) {
            if (line.first != id) continue;
            std::string why;
            unsigned long error = 0;
            if (VerifyCatalogueSignature(document, line.second, {root}, why, error)) {
                ++count;
                break;
            }
        }
    }
    return count;
}

}  // namespace

std::string KeyId(const std::string& pem)
{
    DWORD size = 0;
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                &size, nullptr, nullptr) ||
        size == 0)
        return std::string();
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                &size, nullptr, nullptr))
        return std::string();
    CSha256 hash;
    if (!hash.Valid() || !hash.Update(der.data(), size)) return std::string();
    return hash.HexDigest();
}

KeySet BuiltInKeySet()
{
    KeySet set;
    set.roots.assign(ZELTO_ROOT_KEYS, ZELTO_ROOT_KEYS + ZELTO_ROOT_KEY_COUNT);
    set.threshold = static_cast<unsigned>(ZELTO_ROOT_THRESHOLD);
    set.catalogueKeys = BuiltInCatalogueKeys();
    return set;
}

KeySet HeldKeySet()
{
    KeySet builtIn = BuiltInKeySet();
    if (builtIn.roots.empty()) return builtIn;   // no root keys: no document can count
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kKeysKey, ZELTO_KEY_READ) != ERROR_SUCCESS) return builtIn;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key.get(), "Document", nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size == 0 || size > kMaxDocumentBytes)
        return builtIn;
    std::string document(size, '\0');
    if (::RegQueryValueExA(key.get(), "Document", nullptr, &type, reinterpret_cast<BYTE*>(&document[0]), &size) !=
        ERROR_SUCCESS)
        return builtIn;
    document.resize(std::min<size_t>(size, document.find('\0')));
    KeySet held;
    ULONGLONG expires = 0;
    bool hasExpiry = false;
    std::string why;
    // Written only once verified, by an administrator's program: read as it is.
    if (!ReadKeysDocument(document, held, expires, hasExpiry, why) || held.version < 2) {
        WriteLog(1, "[HeldKeySet] the held keys document cannot be read (%s): the built-in keys count", why.c_str());
        return builtIn;
    }
    held.document = document;
    // Every key any held version revoked stays revoked.
    char ids[8192] = "";
    DWORD idsSize = sizeof(ids) - 1;
    if (key.QueryStringValue("Revoked", ids, &idsSize) == ERROR_SUCCESS) {
        for (const char* at = ids; *at;) {
            const char* end = at;
            while (*end && *end != ' ') ++end;
            const std::string id(at, end);
            if (CSha256::IsHexDigest(id)) held.revoked.insert(Lower(id));
            at = *end ? end + 1 : end;
        }
    }
    return held;
}

bool StoreKeySet(const KeySet& set)
{
    CRegKey key;
    LONG result = key.Create(HKEY_LOCAL_MACHINE, kKeysKey);
    // The revoked ids first, the document last: a kill in between leaves the
    // old document with more keys revoked, never a new one with fewer.
    std::string ids;
    for (const std::string& id : set.revoked) ids += (ids.empty() ? "" : " ") + id;
    if (result == ERROR_SUCCESS) result = key.SetStringValue("Revoked", ids.c_str());
    if (result == ERROR_SUCCESS) result = key.SetStringValue("Document", set.document.c_str());
    if (result == ERROR_SUCCESS) ::RegFlushKey(key.get());
    if (result != ERROR_SUCCESS)
        WriteLog(1, "[StoreKeySet] keys document %u could not be kept, Error Code = %d", set.version,
                 static_cast<int>(result));
    return result == ERROR_SUCCESS;
}

std::vector<std::string> ActiveCatalogueKeys(const KeySet& set)
{
    std::vector<std::string> keys;
    for (const std::string& pem : set.catalogueKeys)
        if (!set.revoked.count(KeyId(pem))) keys.push_back(pem);
    return keys;
}

std::vector<std::string> ActiveCatalogueKeyIds(const KeySet& set)
{
    std::vector<std::string> ids;
    for (const std::string& pem : ActiveCatalogueKeys(set)) ids.push_back(KeyId(pem));
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

bool ReadKeysDocument(const std::string& document, KeySet& set, ULONGLONG& expires, bool& hasExpiry,
                      std::string& why)
{
    set = KeySet();
    pugi::xml_document doc;
    if (document.size() > kMaxDocumentBytes ||
        !doc.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_utf8)) {
        why = "no XML document";
        return false;
    }
    pugi::xml_node root = doc.child("ZELTOKEYS");
    if (!root) {
        why = "no root element ZELTOKEYS";
        return false;
    }
    ULONGLONG version = 0;
    const std::string versionText = root.attribute("VERSION").value();
    if (versionText.empty() || versionText.size() > 9 || versionText.find_first_not_of("0123456789") != std::string::npos ||
        (version = std::stoull(versionText)) < 1) {
        why = "no readable VERSION";
        return false;
    }
    set.version = static_cast<unsigned>(version);
    hasExpiry = !root.attribute("EXPIRES").empty();
    if (hasExpiry && !ParseUtcTime(root.attribute("EXPIRES").value(), expires)) {
        why = "EXPIRES is not a UTC time YYYY-MM-DDTHH:MM:SSZ";
        return false;
    }
    for (pugi::xml_node node : root.children()) {
        const std::string name = node.name();
        const std::string text = Trimmed(node.child_value());
        if (name == "ROOT" || name == "CATALOGUEKEY") {
            if (KeyId(text).empty()) {
                why = name + " holds no public key";
                return false;
            }
            (name == "ROOT" ? set.roots : set.catalogueKeys).push_back(text);
        } else if (name == "REVOKED") {
            if (!CSha256::IsHexDigest(text)) {
                why = "REVOKED holds no key id";
                return false;
            }
            set.revoked.insert(Lower(text));
        }
    }
    const std::string thresholdText = root.attribute("THRESHOLD").value();
    const unsigned threshold = thresholdText.size() == 1 && thresholdText[0] >= '1' && thresholdText[0] <= '9'
                                   ? static_cast<unsigned>(thresholdText[0] - '0') : 0;
    if (set.roots.empty() || threshold == 0 || threshold > set.roots.size()) {
        why = "no root key, or a THRESHOLD outside 1 and the number of root keys";
        return false;
    }
    set.threshold = threshold;
    if (ActiveCatalogueKeys(set).empty()) {
        why = "no catalogue key that is not revoked";
        return false;
    }
    set.document = document;
    return true;
}

DWORD JudgeKeysDocument(const KeySet& held, const std::string& document, const std::string& signatures,
                        ULONGLONG now, KeySet& next, std::string& why)
{
    char text[256];
    ULONGLONG expires = 0;
    bool hasExpiry = false;
    std::string problem;
    if (!ReadKeysDocument(document, next, expires, hasExpiry, problem)) {
        why = problem;
        return ERR_KEYS_UNREADABLE;
    }
    if (next.version != held.version + 1) {
        std::snprintf(text, sizeof(text), "it is version %u, the one after the held version %u was asked for",
                      next.version, held.version);
        why = text;
        return ERR_KEYS_NOT_NEXT;
    }
    if (!hasExpiry) {
        why = "no EXPIRES";
        return ERR_KEYS_EXPIRED;
    }
    if (expires <= now) {
        why = "expired";
        return ERR_KEYS_EXPIRED;
    }
    // A revoked key stays revoked, whatever a later document lists.
    next.revoked.insert(held.revoked.begin(), held.revoked.end());
    if (ActiveCatalogueKeys(next).empty()) {
        why = "no catalogue key that is not revoked";
        return ERR_KEYS_UNREADABLE;
    }
    const auto lines = SignatureLines(signatures);
    const std::set<std::string>& revoked = next.revoked;
    const unsigned byHeld = SignersAmong(held.roots, revoked, document, lines);
    if (byHeld < held.threshold) {
        std::snprintf(text, sizeof(text), "signed by %u of the held version's root keys, %u needed", byHeld,
                      held.threshold);
        why = text;
        return ERR_KEYS_THRESHOLD;
    }
    const unsigned byOwn = SignersAmong(next.roots, revoked, document, lines);
    if (byOwn < next.threshold) {
        std::snprintf(text, sizeof(text), "signed by %u of its own root keys, %u needed", byOwn, next.threshold);
        why = text;
        return ERR_KEYS_THRESHOLD;
    }
    return 0;
}
