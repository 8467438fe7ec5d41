#include "base/SystemLibrary.h"

#include <delayimp.h>

#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The delay-import descriptors' fields are offsets from the image's base
// where their attributes say so (as 64-bit MinGW and Visual C++ write
// them), else addresses (as 32-bit MinGW's dlltool writes them).
BYTE* DescriptorField(const ImgDelayDescr& descriptor, DWORD value)
{
    if (descriptor.grAttrs & dlattrRva) return reinterpret_cast<BYTE*>(&__ImageBase) + value;
    return reinterpret_cast<BYTE*>(static_cast<ULONG_PTR>(value));
}

}  // namespace

// The delay-load helper: every delay-loaded system library is resolved here
// at its first call, loaded from the system folder by its full path, never
// by the bare name that the program's folder could answer. A library or a
// function the system lacks ends the program as a missing import would.
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* entry)
{
    auto* module = reinterpret_cast<HMODULE*>(DescriptorField(*descriptor, descriptor->rvaHmod));
    const char* library = reinterpret_cast<const char*>(DescriptorField(*descriptor, descriptor->rvaDLLName));
    auto* table = reinterpret_cast<FARPROC*>(DescriptorField(*descriptor, descriptor->rvaIAT));
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(DescriptorField(*descriptor, descriptor->rvaINT));

    HMODULE loaded = *module;
    if (!loaded) {
        loaded = LoadSystemLibrary(library);
        if (!loaded) {
            ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(library);
            ::RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
            return nullptr;
        }
        // Another thread may have loaded it meanwhile: one reference is kept.
        HMODULE earlier = reinterpret_cast<HMODULE>(::InterlockedCompareExchangePointer(
            reinterpret_cast<PVOID*>(module), loaded, nullptr));
        if (earlier) {
            ::FreeLibrary(loaded);
            loaded = earlier;
        }
    }
    const IMAGE_THUNK_DATA& thunk = names[entry - table];
    LPCSTR function = IMAGE_SNAP_BY_ORDINAL(thunk.u1.Ordinal)
                          ? reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(IMAGE_ORDINAL(thunk.u1.Ordinal)))
                          : reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                                DescriptorField(*descriptor, static_cast<DWORD>(thunk.u1.AddressOfData)))->Name;
    FARPROC address = ::GetProcAddress(loaded, function);
    if (!address) {
        ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(function);
        ::RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_PROC_NOT_FOUND), 0, 1, &argument);
        return nullptr;
    }
    *entry = address;
    return address;
}

void RestrictLibrarySearch()
{
    // Present from Windows 7 with its 2011 loader update, and later; looked up
    // so that the program still starts on a system without it.
    using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (HMODULE kernel = ::GetModuleHandleA("kernel32.dll")) {
        auto setDirectories = reinterpret_cast<SetDirectoriesFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
        if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    ::SetDllDirectoryA("");   // the current folder leaves the search order
}

HMODULE LoadSystemLibrary(const char* name)
{
    char folder[MAX_PATH] = {};
    UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (!name || length == 0 || length >= MAX_PATH) return nullptr;
    const std::string path = std::string(folder) + "\\" + name;
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
