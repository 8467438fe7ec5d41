// Small helpers shared by the test programs (they run under Wine).
#pragma once

#include "app/Log.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace testutil {

inline std::string ExeFolder()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\'));
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void WriteWholeFile(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// A registry value that is put back as it was when the guard goes.
class RegistryValueGuard {
public:
    RegistryValueGuard(HKEY root, const char* subKey, const char* value)
        : m_root(root), m_subKey(subKey), m_value(value)
    {
        HKEY key;
        m_keyExisted = ::RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (m_keyExisted) {
            DWORD size = sizeof(m_data);
            m_valueExisted = ::RegQueryValueExA(key, value, nullptr, &m_type, m_data, &size) == ERROR_SUCCESS;
            m_size = size;
            ::RegCloseKey(key);
        }
    }
    ~RegistryValueGuard()
    {
        if (!m_keyExisted) {
            ::RegDeleteKeyA(m_root, m_subKey.c_str());
            return;
        }
        HKEY key;
        if (::RegOpenKeyExA(m_root, m_subKey.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
        if (m_valueExisted) ::RegSetValueExA(key, m_value.c_str(), 0, m_type, m_data, m_size);
        else ::RegDeleteValueA(key, m_value.c_str());
        ::RegCloseKey(key);
    }
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

private:
    HKEY m_root;
    std::string m_subKey, m_value;
    bool m_keyExisted = false, m_valueExisted = false;
    DWORD m_type = 0, m_size = 0;
    BYTE m_data[4096] = {};
};

inline bool SetRegistryValue(HKEY root, const char* subKey, const char* value, DWORD type,
                             const void* data, DWORD size)
{
    HKEY key;
    if (::RegCreateKeyExA(root, subKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = ::RegSetValueExA(key, value, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return ok;
}

// The program's log, started at a level for one test, beside the test program;
// deleted before and after.
class TestLog {
public:
    explicit TestLog(BYTE level) : m_path(ExeFolder() + "\\ZeltoOmbrix.log")
    {
        ::DeleteFileA(m_path.c_str());
        StartLog(0, level);
    }
    ~TestLog()
    {
        StopLog();
        ::DeleteFileA(m_path.c_str());
    }
    TestLog(const TestLog&) = delete;
    TestLog& operator=(const TestLog&) = delete;

    std::string Contents() const { return ReadWholeFile(m_path); }
    bool Has(const std::string& text) const { return Contents().find(text) != std::string::npos; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace testutil
