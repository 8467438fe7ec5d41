// Linked only into the crash-test build of the program (ZeltoSetup-KILL-STEPS.exe):
// every call of the program to a function that changes what survives the
// process (a file copied, moved or deleted, a folder or registry key made
// that was not there, a folder removed, a registry value written or deleted,
// a key deleted, a program started, which is how components are registered)
// is a durable step. With ZELTO_KILL_AT_STEP=N the
// process ends itself just before its N-th step, as a power cut or the task
// manager would end it there. ZELTO_STEP_LOG names a file to which the step
// the process ended at is appended ("<N> <function> <arguments>"); with
// ZELTO_STEP_TRACE=1 every step is appended, so that a test can say which
// points it killed at.
//
// The program's own import table is patched at start-up; nothing in the
// program knows about it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kKilledExitCode = 0x4B1;   // what a killed run ends with

LONG g_steps = 0;
LONG g_killAt = 0;
bool g_trace = false;
char g_stepLog[MAX_PATH] = "";

// The real functions, saved when the import table is patched.
decltype(&::CopyFileA) RealCopyFileA;
decltype(&::MoveFileExA) RealMoveFileExA;
decltype(&::DeleteFileA) RealDeleteFileA;
decltype(&::CreateDirectoryA) RealCreateDirectoryA;
decltype(&::RemoveDirectoryA) RealRemoveDirectoryA;
decltype(&::RegSetValueExA) RealRegSetValueExA;
decltype(&::RegDeleteValueA) RealRegDeleteValueA;
decltype(&::RegDeleteKeyA) RealRegDeleteKeyA;
decltype(&::RegCreateKeyExA) RealRegCreateKeyExA;
decltype(&::CreateProcessA) RealCreateProcessA;

void Append(const char* line)
{
    if (!g_stepLog[0]) return;
    HANDLE file = ::CreateFileA(g_stepLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::FlushFileBuffers(file);
    ::CloseHandle(file);
}

void Step(const char* function, const char* first, const char* second = nullptr)
{
    LONG step = ::InterlockedIncrement(&g_steps);
    bool kill = step == g_killAt;
    if (!kill && !g_trace) return;
    char line[1200];
    std::snprintf(line, sizeof(line), "%ld %s %s%s%s%s\n", step, function, first ? first : "",
                  second ? " -> " : "", second ? second : "", kill ? " KILLED" : "");
    Append(line);
    if (kill) ::TerminateProcess(::GetCurrentProcess(), kKilledExitCode);
}

// A registry key's path for the step's line: only the last part is known here.
const char* Name(const char* name) { return name ? name : "(default)"; }

BOOL WINAPI HookCopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists)
{
    Step("CopyFile", from, to);
    return RealCopyFileA(from, to, failIfExists);
}

BOOL WINAPI HookMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    Step((flags & MOVEFILE_DELAY_UNTIL_REBOOT) ? "MoveFileEx(at restart)" : "MoveFileEx", from, to);
    return RealMoveFileExA(from, to, flags);
}

BOOL WINAPI HookDeleteFileA(LPCSTR path)
{
    Step("DeleteFile", path);
    return RealDeleteFileA(path);
}

BOOL WINAPI HookCreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security)
{
    // Asking for a folder that is there changes nothing.
    if (::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) Step("CreateDirectory", path);
    return RealCreateDirectoryA(path, security);
}

BOOL WINAPI HookRemoveDirectoryA(LPCSTR path)
{
    Step("RemoveDirectory", path);
    return RealRemoveDirectoryA(path);
}

LONG WINAPI HookRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    Step("RegSetValueEx", Name(name));
    return RealRegSetValueExA(key, name, reserved, type, data, size);
}

LONG WINAPI HookRegDeleteValueA(HKEY key, LPCSTR name)
{
    Step("RegDeleteValue", Name(name));
    return RealRegDeleteValueA(key, name);
}

LONG WINAPI HookRegDeleteKeyA(HKEY key, LPCSTR name)
{
    Step("RegDeleteKey", Name(name));
    return RealRegDeleteKeyA(key, name);
}

LONG WINAPI HookRegCreateKeyExA(HKEY key, LPCSTR name, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                                const LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition)
{
    // Opening a key that is there to write in it changes nothing.
    HKEY existing = nullptr;
    if (::RegOpenKeyExA(key, name, 0, KEY_READ | (sam & (KEY_WOW64_32KEY | KEY_WOW64_64KEY)), &existing) == ERROR_SUCCESS)
        ::RegCloseKey(existing);
    else
        Step("RegCreateKeyEx", Name(name));
    return RealRegCreateKeyExA(key, name, reserved, cls, options, sam, security, result, disposition);
}

BOOL WINAPI HookCreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                               LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information)
{
    Step("CreateProcess", commandLine ? commandLine : application);
    return RealCreateProcessA(application, commandLine, process, thread, inherit, flags, environment, directory,
                              startup, information);
}

struct Hook {
    const char* name;
    void* hook;
    void** real;
};

template <typename T>
Hook Entry(const char* name, T hook, T* real)
{
    return Hook{name, reinterpret_cast<void*>(hook), reinterpret_cast<void**>(real)};
}

// Points the program's imports of the functions above at the hooks.
void PatchImports()
{
    const Hook hooks[] = {
        Entry("CopyFileA", &HookCopyFileA, &RealCopyFileA),
        Entry("MoveFileExA", &HookMoveFileExA, &RealMoveFileExA),
        Entry("DeleteFileA", &HookDeleteFileA, &RealDeleteFileA),
        Entry("CreateDirectoryA", &HookCreateDirectoryA, &RealCreateDirectoryA),
        Entry("RemoveDirectoryA", &HookRemoveDirectoryA, &RealRemoveDirectoryA),
        Entry("RegSetValueExA", &HookRegSetValueExA, &RealRegSetValueExA),
        Entry("RegDeleteValueA", &HookRegDeleteValueA, &RealRegDeleteValueA),
        Entry("RegDeleteKeyA", &HookRegDeleteKeyA, &RealRegDeleteKeyA),
        Entry("RegCreateKeyExA", &HookRegCreateKeyExA, &RealRegCreateKeyExA),
        Entry("CreateProcessA", &HookCreateProcessA, &RealCreateProcessA),
    };
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return;
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name;
         ++module) {
        if (!module->OriginalFirstThunk) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const Hook& hook : hooks) {
                if (std::strcmp(name, hook.name) != 0) continue;
                DWORD old = 0;
                ::VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), PAGE_READWRITE, &old);
                *hook.real = reinterpret_cast<void*>(addresses->u1.Function);
                addresses->u1.Function = reinterpret_cast<ULONG_PTR>(hook.hook);
                ::VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), old, &old);
            }
        }
    }
}

struct KillAtStep {
    KillAtStep()
    {
        char text[32] = "";
        if (::GetEnvironmentVariableA("ZELTO_KILL_AT_STEP", text, sizeof(text)) && text[0])
            g_killAt = std::atol(text);
        g_trace = ::GetEnvironmentVariableA("ZELTO_STEP_TRACE", text, sizeof(text)) && text[0] == '1';
        DWORD length = ::GetEnvironmentVariableA("ZELTO_STEP_LOG", g_stepLog, sizeof(g_stepLog));
        if (length >= sizeof(g_stepLog)) g_stepLog[0] = '\0';
        PatchImports();
    }
} g_killAtStep;

}  // namespace
