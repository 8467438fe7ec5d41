#include "sys/RegKey.h"

#include <cstdio>

LONG CRegKey::Open(HKEY root, const char* path, REGSAM access)
{
    HKEY key = nullptr;
    LONG result = ::RegOpenKeyExA(root, path, 0, access, &key);
    if (result != ERROR_SUCCESS) return result;
    Close();
    m_hKey = key;
    return ERROR_SUCCESS;
}

LONG CRegKey::Create(HKEY root, const char* path)
{
    HKEY key = nullptr;
    LONG result = ::RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, ZELTO_KEY_WRITE, nullptr,
                                    &key, nullptr);
    if (result != ERROR_SUCCESS) return result;
    Close();
    m_hKey = key;
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryStringValue(const char* name, char* buffer, DWORD* size) const
{
    if (!m_hKey || !buffer || !size) return ERROR_INVALID_HANDLE;
    DWORD type = 0, bytes = *size;
    LONG result = ::RegQueryValueExA(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (result != ERROR_SUCCESS) return result;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes == 0 || buffer[bytes - 1] != '\0')
        return ERROR_INVALID_DATA;
    *size = bytes;
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryMultiStringValue(const char* name, char* buffer, DWORD* size) const
{
    if (!m_hKey || !buffer || !size) return ERROR_INVALID_HANDLE;
    DWORD type = 0, bytes = *size;
    LONG result = ::RegQueryValueExA(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_MULTI_SZ || bytes < 2 || buffer[bytes - 1] != '\0' || buffer[bytes - 2] != '\0')
        return ERROR_INVALID_DATA;
    *size = bytes;
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryDWORDValue(const char* name, DWORD& value) const
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    DWORD type = 0, data = 0, bytes = sizeof(data);
    LONG result = ::RegQueryValueExA(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_DWORD || bytes != sizeof(data)) return ERROR_INVALID_DATA;
    value = data;
    return ERROR_SUCCESS;
}

LONG CRegKey::SetStringValue(const char* name, const char* text)
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    if (!text) text = "";
    return ::RegSetValueExA(m_hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                            static_cast<DWORD>(lstrlenA(text) + 1));
}

LONG CRegKey::SetDWORDValue(const char* name, DWORD value)
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    return ::RegSetValueExA(m_hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG CRegKey::DeleteValue(const char* name)
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    return ::RegDeleteValueA(m_hKey, name);
}

LONG CRegKey::DeleteSubKey(const char* name)
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    return ::RegDeleteKeyA(m_hKey, name);
}

LONG CRegKey::RecurseDeleteKey(const char* name)
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    CRegKey sub;
    LONG result = sub.Open(m_hKey, name, ZELTO_KEY_WRITE);
    if (result != ERROR_SUCCESS) return result;
    for (;;) {
        char child[256];
        DWORD length = sizeof(child);
        result = ::RegEnumKeyExA(sub.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) return result;
        result = sub.RecurseDeleteKey(child);
        if (result != ERROR_SUCCESS) return result;
    }
    sub.Close();
    return ::RegDeleteKeyA(m_hKey, name);
}

LONG CRegKey::Close()
{
    if (!m_hKey) return ERROR_SUCCESS;
    LONG result = ::RegCloseKey(m_hKey);
    m_hKey = nullptr;
    return result;
}

LONG DeleteKeyTree(HKEY root, const char* path)
{
    {
        CRegKey key;
        if (key.Open(root, path, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
            for (;;) {
                char child[MAX_PATH];
                DWORD length = sizeof(child);
                if (::RegEnumKeyExA(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                if (DeleteKeyTree(key.get(), child) != ERROR_SUCCESS) break;
            }
        }
    }
    return ::RegDeleteKeyA(root, path);
}

std::string RegistryRootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS) return "HKEY_USERS";
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(root)));
    return text;
}
