// A registry key holder: owns at most one open key. Every operation returns
// the system's error code (ERROR_SUCCESS = 0).
#pragma once

#include <windows.h>

#include <string>

constexpr REGSAM ZELTO_KEY_WRITE = 0x2001F;   // read, set values, create sub-keys
constexpr REGSAM ZELTO_KEY_READ = 0x20019;

class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // On failure the holder keeps the key it had.
    LONG Open(HKEY root, const char* path, REGSAM access = ZELTO_KEY_WRITE);
    LONG Create(HKEY root, const char* path);

    // Accepts REG_SZ and REG_EXPAND_SZ (unexpanded) ending with a zero byte;
    // anything else is ERROR_INVALID_DATA. size: in the buffer's size, out
    // the bytes stored (on success). A null name reads the default value.
    LONG QueryStringValue(const char* name, char* buffer, DWORD* size) const;
    // A multi-string ending in two zero bytes; same size rules.
    LONG QueryMultiStringValue(const char* name, char* buffer, DWORD* size) const;
    LONG QueryDWORDValue(const char* name, DWORD& value) const;
    LONG SetStringValue(const char* name, const char* text);
    LONG SetDWORDValue(const char* name, DWORD value);
    LONG DeleteValue(const char* name);
    LONG DeleteSubKey(const char* name);
    LONG RecurseDeleteKey(const char* name);
    LONG Close();

    HKEY get() const { return m_hKey; }
    explicit operator bool() const { return m_hKey != nullptr; }

private:
    HKEY m_hKey = nullptr;
};

// Deletes a key and everything below it (sub-keys first, index 0 until none
// is left or one fails); returns the result of deleting the key itself. A key
// that cannot be opened goes straight to that final deletion.
LONG DeleteKeyTree(HKEY root, const char* path);

// "HKEY_LOCAL_MACHINE" and its siblings, for log lines; "0x%08X" otherwise.
std::string RegistryRootName(HKEY root);
