// The value functions of the settings store and the browser's version.
#include "sys/Util.h"

#include "base/Log.h"
#include "sys/RegKey.h"

#include <cstdlib>

namespace {

// Opens the key for writing, creating it when missing; logs the creation
// failure under the caller's tag.
bool OpenOrCreate(CRegKey& key, HKEY root, const char* path, const char* tag)
{
    if (key.Open(root, path, ZELTO_KEY_WRITE) == ERROR_SUCCESS) return true;
    LONG error = key.Create(root, path);
    if (error == ERROR_SUCCESS) return true;
    WriteLog(1, "[%s] regKey.Create error = %d hKeyRoot = %s szSection = %s", tag, error,
             RegistryRootName(root).c_str(), path);
    return false;
}

}  // namespace

std::string CUtil::GetProfileString(HKEY root, const char* path, const char* name, const char* def)
{
    std::string fallback = def ? def : "";
    CRegKey key;
    if (key.Open(root, path, ZELTO_KEY_WRITE) != ERROR_SUCCESS) return fallback;
    char buffer[512];
    DWORD size = sizeof(buffer);
    if (key.QueryStringValue(name, buffer, &size) != ERROR_SUCCESS) return fallback;
    return buffer;
}

DWORD CUtil::GetProfileInteger(HKEY root, const char* path, const char* name, DWORD def)
{
    CRegKey key;
    if (key.Open(root, path, ZELTO_KEY_WRITE) != ERROR_SUCCESS) return def;
    DWORD value = 0;
    if (key.QueryDWORDValue(name, value) != ERROR_SUCCESS) return def;
    return value;
}

BOOL CUtil::SetProfileString(HKEY root, const char* path, const char* name, const char* text)
{
    CRegKey key;
    if (!OpenOrCreate(key, root, path, "SetProfileString")) return FALSE;
    LONG error = key.SetStringValue(name, text);
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[SetProfileString] regKey.SetStringValue error = %d szEntry = %s szValue = %s", error,
                 name ? name : "", text ? text : "");
        return FALSE;
    }
    return TRUE;
}

BOOL CUtil::SetProfileInteger(HKEY root, const char* path, const char* name, DWORD value)
{
    CRegKey key;
    if (!OpenOrCreate(key, root, path, "SetProfileInteger")) return FALSE;
    LONG error = key.SetDWORDValue(name, value);
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[SetProfileInteger] regKey.SetDWORDValue error = %d szEntry = %s dwValue = %s", error,
                 name ? name : "", std::to_string(value).c_str());
        return FALSE;
    }
    return TRUE;
}

int CUtil::GetIEMajorVersion()
{
    auto readVersion = [](const char* path, const char* name, std::string& text) {
        CRegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, path, ZELTO_KEY_WRITE) != ERROR_SUCCESS) return false;
        char buffer[MAX_PATH];
        DWORD size = sizeof(buffer);
        if (key.QueryStringValue(name, buffer, &size) != ERROR_SUCCESS) return false;
        text = buffer;
        return true;
    };
    std::string text;
    if (!readVersion("SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector", "IE", text) &&
        !readVersion("SOFTWARE\\Microsoft\\Internet Explorer", "Version", text))
        return 0;
    // The leading decimal number: "8.0000" gives 8, "6.0.2900.5512" gives 6.
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
    }
    return value;
}
