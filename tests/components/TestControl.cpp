// A small COM in-process server, the kind of component the program installs:
// one class with a class factory, self-registration under
// CLSID\{...}\InprocServer32, and a version resource set at build time.
// Built in several versions and with several class identifiers.
#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <string>

namespace {

HMODULE g_module = nullptr;
LONG g_locks = 0;

const char kClassId[] = COMPONENT_CLSID;   // "{...}"

CLSID ClassId()
{
    wchar_t wide[64] = {};
    ::MultiByteToWideChar(CP_ACP, 0, kClassId, -1, wide, 64);
    CLSID id = {};
    ::CLSIDFromString(wide, &id);
    return id;
}

class Object : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) { *out = this; AddRef(); return S_OK; }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = ::InterlockedDecrement(&m_refs);
        if (n == 0) { ::InterlockedDecrement(&g_locks); delete this; }
        return n;
    }
    Object() { ::InterlockedIncrement(&g_locks); }

private:
    LONG m_refs = 1;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { ::InterlockedIncrement(&g_locks); return 2; }
    ULONG STDMETHODCALLTYPE Release() override { ::InterlockedDecrement(&g_locks); return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (outer) return CLASS_E_NOAGGREGATION;
        Object* object = new Object();
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock) ::InterlockedIncrement(&g_locks); else ::InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

Factory g_factory;

std::string KeyPath()
{
    return std::string("CLSID\\") + kClassId;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!IsEqualCLSID(clsid, ClassId())) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer()
{
#ifdef COMPONENT_REGISTER_FAILS
    return E_FAIL;
#else
#ifdef COMPONENT_REGISTER_FAILS_ON_FLAKY_DESKTOPS
    // A bad release: its registration fails on the desktops whose
    // environment says ZELTO_FLAKY_DESKTOP (the registration tool inherits it).
    char flaky[8] = {};
    if (::GetEnvironmentVariableA("ZELTO_FLAKY_DESKTOP", flaky, sizeof(flaky)) > 0) return E_FAIL;
#endif
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(g_module, path, MAX_PATH);
    HKEY key;
    std::string inproc = KeyPath() + "\\InprocServer32";
    if (::RegCreateKeyExA(HKEY_CLASSES_ROOT, inproc.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr))
        return E_FAIL;
    ::RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<BYTE*>(path), static_cast<DWORD>(std::strlen(path) + 1));
    const char model[] = "Apartment";
    ::RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof(model));
    ::RegCloseKey(key);
    return S_OK;
#endif
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    std::string base = KeyPath();
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, (base + "\\InprocServer32").c_str());
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, base.c_str());
    return S_OK;
}
