// Small helpers shared by the test programs (they run under Wine).
#pragma once

#include "base/Log.h"
#include "sys/RegKey.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace testutil {

// Deletes the program's whole uninstall entry with its item records.
inline void RemoveUninstallEntry()
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZeltoSetup");
}

// The test program's own path.
inline std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

inline std::string ExeFolder()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\'));
}

// The Wine (Z:) path of a Unix path.
inline std::string WindowsPathOf(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path) if (c == '/') c = '\\';
    return path;
}

// A built test component: Component("v1004\\ZeltoTestCtl.dll").
inline std::string Component(const std::string& relative)
{
#ifdef ZELTO_COMPONENTS_DIR
    return WindowsPathOf(ZELTO_COMPONENTS_DIR) + "\\" + relative;
#else
    return relative;
#endif
}

// Waits up to timeoutMs for predicate() to hold.
template <typename Predicate>
bool WaitFor(Predicate predicate, DWORD timeoutMs)
{
    ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!predicate()) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(20);
    }
    return true;
}

// Joins a worker that sets finished as its last step, waiting at most
// timeoutMs: a worker still running then ends the test program with a
// message naming it, instead of holding the run until ctest's limit (the
// worker uses the test's state, so it can be neither left nor stopped).
inline void JoinWithin(std::thread& worker, const std::atomic<bool>& finished, DWORD timeoutMs, const char* what)
{
    if (!WaitFor([&] { return finished.load(); }, timeoutMs)) {
        std::fprintf(stderr, "FAILED: %s did not return within %lu ms\n", what, static_cast<unsigned long>(timeoutMs));
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 1);
    }
    worker.join();
}

// The Unix path of a Windows path (Wine's own export), "" when unknown.
inline std::string UnixPathOf(const std::string& path)
{
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return std::string();
    wchar_t wide[MAX_PATH] = {};
    ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* name = toUnix(wide);
    std::string out = name ? name : "";
    if (name) ::HeapFree(::GetProcessHeap(), 0, name);
    return out;
}

// Runs a Unix program (Wine starts them like any other) and waits for it.
inline void RunUnix(std::string command)
{
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return;
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, 5000);
    ::CloseHandle(process.hProcess);
}

// A folder link at link pointing at target, as the system shows a junction
// (a reparse point): Wine shows a Unix symbolic link so.
inline bool PlantLink(const std::string& link, const std::string& target)
{
    RunUnix("Z:\\bin\\ln -sfn \"" + UnixPathOf(target) + "\" \"" + UnixPathOf(link) + "\"");
    return WaitFor([&] { return ::GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; }, 5000);
}

inline void RemoveLink(const std::string& link)
{
    RunUnix("Z:\\bin\\rm -f \"" + UnixPathOf(link) + "\"");
}

inline std::string ReadWholeFile(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string data;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) data.append(buffer, read);
    ::CloseHandle(file);
    return data;
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

// A hidden window that records the UM_SETUP_STATUS codes posted to it, also
// while a modal loop (a message box) dispatches them.
class StatusRecorder {
public:
    StatusRecorder()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &StatusRecorder::Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZeltoTestStatusRecorder";
        ::RegisterClassA(&wc);
        m_wnd = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        ::SetWindowLongPtrA(m_wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~StatusRecorder() { ::DestroyWindow(m_wnd); }
    StatusRecorder(const StatusRecorder&) = delete;
    StatusRecorder& operator=(const StatusRecorder&) = delete;

    HWND Window() const { return m_wnd; }
    // Dispatches what is queued and returns every code received so far.
    std::vector<int> Codes()
    {
        MSG msg;
        while (::PeekMessageA(&msg, m_wnd, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        return m_codes;
    }
    void Clear() { Codes(); m_codes.clear(); }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<StatusRecorder*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
        if (self && msg == WM_USER + 2) { self->m_codes.push_back(static_cast<int>(wParam)); return 0; }
        return ::DefWindowProcA(wnd, msg, wParam, lParam);
    }
    HWND m_wnd = nullptr;
    std::vector<int> m_codes;
};

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
