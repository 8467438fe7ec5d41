#include "catalogue/CatalogueFreshness.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "sys/RegKey.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// At most 19 decimal digits and nothing else: always fits 64 bits.
bool ParseSerial(const char* text, ULONGLONG& value)
{
    value = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p, ++digits) {
        if (*p < '0' || *p > '9' || digits == 19) return false;
        value = value * 10 + static_cast<ULONGLONG>(*p - '0');
    }
    return digits > 0;
}

bool Digits(const std::string& text, size_t at, size_t count, WORD& value)
{
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = static_cast<WORD>(value * 10 + (text[i] - '0'));
    }
    return true;
}

}  // namespace

bool ParseUtcTime(const std::string& text, ULONGLONG& fileTime)
{
    // 2027-01-31T23:59:59Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    SYSTEMTIME st = {};
    if (!Digits(text, 0, 4, st.wYear) || !Digits(text, 5, 2, st.wMonth) || !Digits(text, 8, 2, st.wDay) ||
        !Digits(text, 11, 2, st.wHour) || !Digits(text, 14, 2, st.wMinute) || !Digits(text, 17, 2, st.wSecond))
        return false;
    if (st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59) return false;
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft)) return false;   // refuses month 13, February 30 and the like
    fileTime = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
}

CatalogueBinding ReadCatalogueBinding(const pugi::xml_node& root)
{
    CatalogueBinding binding;
    if (pugi::xml_attribute serial = root.attribute("SERIAL")) {
        binding.serialText = serial.value();
        binding.hasSerial = ParseSerial(serial.value(), binding.serial);
    }
    binding.mode = root.attribute("MODE").value();
    if (pugi::xml_attribute expires = root.attribute("EXPIRES")) {
        binding.hasExpiry = true;
        binding.expiresText = expires.value();
        binding.expiryReadable = ParseUtcTime(binding.expiresText, binding.expires);
    }
    return binding;
}

DWORD JudgeCatalogueBinding(const CatalogueBinding& binding, const std::string& runMode, bool hasHighest,
                            ULONGLONG highest, ULONGLONG now, std::string& why)
{
    char text[512];
    if (!binding.hasSerial) {
        std::snprintf(text, sizeof(text), "no readable SERIAL (\"%.40s\")", binding.serialText.c_str());
        why = text;
        return ERR_CATALOGUE_UNBOUND;
    }
    if (binding.mode.empty()) {
        why = "no MODE";
        return ERR_CATALOGUE_UNBOUND;
    }
    if (lstrcmpiA(binding.mode.c_str(), runMode.c_str()) != 0) {
        std::snprintf(text, sizeof(text), "published for MODE \"%.100s\", the run's MODE is \"%.100s\"",
                      binding.mode.c_str(), runMode.c_str());
        why = text;
        return ERR_CATALOGUE_UNBOUND;
    }
    if (!binding.hasExpiry) {
        why = "no EXPIRES (a signed catalogue valid for ever could be replayed for ever)";
        return ERR_CATALOGUE_UNBOUND;
    }
    if (hasHighest && binding.serial < highest) {
        std::snprintf(text, sizeof(text), "SERIAL %s is lower than %s, the highest accepted before (a replayed "
                      "older catalogue)", std::to_string(binding.serial).c_str(), std::to_string(highest).c_str());
        why = text;
        return ERR_CATALOGUE_REPLAYED;
    }
    if (!binding.expiryReadable) {
        std::snprintf(text, sizeof(text), "EXPIRES \"%.40s\" is not a UTC time YYYY-MM-DDTHH:MM:SSZ",
                      binding.expiresText.c_str());
        why = text;
        return ERR_CATALOGUE_EXPIRED;
    }
    if (binding.expires <= now) {
        std::snprintf(text, sizeof(text), "expired at %s (EXPIRES)", binding.expiresText.c_str());
        why = text;
        return ERR_CATALOGUE_EXPIRED;
    }
    return 0;
}

namespace {

std::string Lower(std::string text)
{
    if (!text.empty()) ::CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The mode of a value an older version named by its catalogue URL
// ("<scheme>://<host>/.../Repository/<mode>/<mode>.xml"), in lower case; ""
// when the name is no such URL.
std::string ModeOfUrlName(const std::string& name)
{
    const std::string lower = Lower(name);
    if (lower.find("://") == std::string::npos) return std::string();
    const std::string marker = "/repository/";
    const size_t at = lower.rfind(marker);
    if (at == std::string::npos) return std::string();
    const std::string rest = lower.substr(at + marker.size());
    const size_t slash = rest.find('/');
    if (slash == std::string::npos || slash == 0) return std::string();
    const std::string mode = rest.substr(0, slash);
    return rest.substr(slash + 1) == mode + ".xml" ? mode : std::string();
}

// Carries the URL-named values of mode over to its own value.
void CarryOverUrlSerials(CRegKey& key, const std::string& mode)
{
    std::vector<std::string> names;
    ULONGLONG highest = 0;
    bool found = false;
    for (DWORD index = 0;; ++index) {
        char name[2048];
        char text[32];
        DWORD nameSize = sizeof(name), textSize = sizeof(text), type = 0;
        const LONG result = ::RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type,
                                            reinterpret_cast<BYTE*>(text), &textSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ || ModeOfUrlName(name) != mode) continue;
        names.push_back(name);
        text[std::min<DWORD>(textSize, sizeof(text) - 1)] = '\0';
        ULONGLONG value = 0;
        if (ParseSerial(text, value) && (!found || value > highest)) highest = value;
        found = found || ParseSerial(text, value);
    }
    if (names.empty()) return;
    if (found && key.SetStringValue(mode.c_str(), std::to_string(highest).c_str()) != ERROR_SUCCESS) return;
    for (const std::string& name : names) key.DeleteValue(name.c_str());
    ::RegFlushKey(key.get());
    WriteLog(1, "[ReadAcceptedSerial] %d floor(s) kept per catalogue URL carried over to MODE %s: SERIAL %s",
             static_cast<int>(names.size()), mode.c_str(), std::to_string(highest).c_str());
}

}  // namespace

bool ReadAcceptedSerial(const std::string& runMode, ULONGLONG& serial)
{
    const std::string mode = Lower(runMode);
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kCatalogueSerialsKey, ZELTO_KEY_READ | ZELTO_KEY_WRITE) == ERROR_SUCCESS)
        CarryOverUrlSerials(key, mode);
    else if (key.Open(HKEY_LOCAL_MACHINE, kCatalogueSerialsKey, ZELTO_KEY_READ) != ERROR_SUCCESS)
        return false;
    char text[32] = "";
    DWORD size = sizeof(text);
    if (key.QueryStringValue(mode.c_str(), text, &size) != ERROR_SUCCESS) return false;
    return ParseSerial(text, serial);
}

bool RecordAcceptedSerial(const std::string& runMode, ULONGLONG serial)
{
    const std::string mode = Lower(runMode);
    ULONGLONG recorded = 0;
    if (ReadAcceptedSerial(mode, recorded) && recorded >= serial) return true;
    CRegKey key;
    LONG result = key.Create(HKEY_LOCAL_MACHINE, kCatalogueSerialsKey);
    if (result == ERROR_SUCCESS) result = key.SetStringValue(mode.c_str(), std::to_string(serial).c_str());
    if (result == ERROR_SUCCESS) {
        // The next run must see it even after a power cut right now.
        ::RegFlushKey(key.get());
        WriteLog(2, "[RecordAcceptedSerial] MODE %s: SERIAL %s", mode.c_str(), std::to_string(serial).c_str());
        return true;
    }
    WriteLog(1, "[RecordAcceptedSerial] MODE %s: SERIAL %s could not be recorded, Error Code = %d", mode.c_str(),
             std::to_string(serial).c_str(), static_cast<int>(result));
    return false;
}

void ResetAcceptedSerials()
{
    const LONG result = DeleteKeyTree(HKEY_LOCAL_MACHINE, kCatalogueSerialsKey);
    WriteLog(1, "[ResetAcceptedSerials] the keys that sign catalogues changed: every MODE's SERIAL is forgotten%s",
             result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? "" : " (failed)");
}
