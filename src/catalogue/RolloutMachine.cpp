#include "catalogue/RolloutMachine.h"

#include "base/Log.h"
#include "catalogue/CatalogueFreshness.h"
#include "catalogue/CatalogueSignature.h"
#include "sys/RegKey.h"

#include <ntsecapi.h>

#include <cctype>
#include <cstdlib>

namespace {

bool IsInstallId(const std::string& text)
{
    if (text.size() != 32) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string ReadString(const CRegKey& key, const char* name)
{
    char buffer[128];
    DWORD size = sizeof(buffer);
    if (key.QueryStringValue(name, buffer, &size) != ERROR_SUCCESS) return std::string();
    return buffer;
}

// A policy value of the type it must have; one of another type is logged
// and read as absent (an administrator's typo must not pass unnoticed).
bool PolicyOfType(const CRegKey& key, const char* name, DWORD wanted)
{
    DWORD type = 0;
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return false;
    if (type == wanted || (wanted == REG_SZ && type == REG_EXPAND_SZ)) return true;
    WriteLog(1, "[ReadUpdatePolicy] %s is of registry type %lu, not %s: ignored", name, static_cast<unsigned long>(type),
             wanted == REG_DWORD ? "REG_DWORD" : "REG_SZ");
    return false;
}

}  // namespace

CUpdatePolicy ReadUpdatePolicy(const std::string& item)
{
    CUpdatePolicy policy;
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kUpdatePolicyKey, ZELTO_KEY_READ) != ERROR_SUCCESS) return policy;
    DWORD value = 0;
    policy.updatesOff = PolicyOfType(key, "DisableUpdates", REG_DWORD) &&
                        key.QueryDWORDValue("DisableUpdates", value) == ERROR_SUCCESS && value != 0;
    value = 0;
    policy.installsOff = PolicyOfType(key, "DisableInstalls", REG_DWORD) &&
                         key.QueryDWORDValue("DisableInstalls", value) == ERROR_SUCCESS && value != 0;
    if (PolicyOfType(key, "Ring", REG_SZ))
        for (char c : ReadString(key, "Ring")) policy.ring += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!policy.ring.empty() && policy.ring != "early" && policy.ring != "late") {
        WriteLog(1, "[ReadUpdatePolicy] Ring \"%s\" is neither early nor late: ignored", policy.ring.c_str());
        policy.ring.clear();
    }
    CRegKey pins;
    if (pins.Open(HKEY_LOCAL_MACHINE, (std::string(kUpdatePolicyKey) + "\\PinnedVersions").c_str(), ZELTO_KEY_READ) ==
        ERROR_SUCCESS && PolicyOfType(pins, item.c_str(), REG_SZ))
        policy.pin = ReadString(pins, item.c_str());
    return policy;
}

std::string MachineInstallId()
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kInstallIdKey, ZELTO_KEY_READ) == ERROR_SUCCESS) {
        const std::string id = ReadString(key, "InstallId");
        if (IsInstallId(id)) return id;
    }
    unsigned char bytes[16];
    if (!RtlGenRandom(bytes, sizeof(bytes))) {
        // Without randomness every machine would share one bucket: such a
        // machine waits for 100 % (the last bucket).
        WriteLog(1, "[MachineInstallId] no random bytes, Error Code = %d", static_cast<int>(::GetLastError()));
        return std::string();
    }
    static const char hex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
        id += hex[b >> 4];
        id += hex[b & 15];
    }
    CRegKey write;
    LONG result = write.Create(HKEY_LOCAL_MACHINE, kInstallIdKey);
    if (result == ERROR_SUCCESS) result = write.SetStringValue("InstallId", id.c_str());
    if (result == ERROR_SUCCESS) ::RegFlushKey(write.get());
    else WriteLog(1, "[MachineInstallId] the install id could not be kept, Error Code = %d", static_cast<int>(result));
    return id;
}

ULONGLONG RolloutNow()
{
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    ULONGLONG now = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    if (ZELTO_CATALOGUE_SAMPLE_KEY || !CatalogueSignatureRequired()) {
        char text[64];
        const DWORD length = ::GetEnvironmentVariableA("ZELTO_TEST_NOW", text, sizeof(text));
        ULONGLONG test = 0;
        if (length > 0 && length < sizeof(text) && ParseUtcTime(text, test)) now = test;
    }
    return now;
}
