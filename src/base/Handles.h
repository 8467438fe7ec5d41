// Small owning wrappers for raw Windows handles. Each is non-copyable,
// movable, closes its handle in the destructor, and offers get()/release().
#pragma once

#include <windows.h>
#include <ole2.h>
#include <wininet.h>
#include <wincrypt.h>

#include <utility>

namespace zelto {

template <typename Traits>
class ScopedHandle {
public:
    using Type = typename Traits::Type;

    ScopedHandle() noexcept : m_h(Traits::Invalid()) {}
    explicit ScopedHandle(Type h) noexcept : m_h(h) {}
    ~ScopedHandle() { reset(); }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : m_h(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Type get() const noexcept { return m_h; }
    bool valid() const noexcept { return m_h != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    Type release() noexcept { return std::exchange(m_h, Traits::Invalid()); }
    void reset(Type h = Traits::Invalid()) noexcept {
        if (m_h != Traits::Invalid()) Traits::Close(m_h);
        m_h = h;
    }
    // For APIs that return the handle through an out-parameter.
    Type* receive() noexcept { reset(); return &m_h; }

private:
    Type m_h;
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct CryptProviderTraits {
    using Type = HCRYPTPROV;
    static Type Invalid() { return 0; }
    static void Close(Type h) { ::CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
    using Type = HCRYPTHASH;
    static Type Invalid() { return 0; }
    static void Close(Type h) { ::CryptDestroyHash(h); }
};
struct CryptKeyTraits {
    using Type = HCRYPTKEY;
    static Type Invalid() { return 0; }
    static void Close(Type h) { ::CryptDestroyKey(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::InternetCloseHandle(h); }
};
struct ModuleHandleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteDC(h); }
};
struct RegionTraits {
    using Type = HRGN;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};

// Certificates, stores, chains and messages of the CryptoAPI.
struct CertStoreTraits {
    using Type = HCERTSTORE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CertCloseStore(h, 0); }
};
struct CertContextTraits {
    using Type = PCCERT_CONTEXT;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CertFreeCertificateContext(h); }
};
struct CertChainEngineTraits {
    using Type = HCERTCHAINENGINE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CertFreeCertificateChainEngine(h); }
};
struct CertChainTraits {
    using Type = PCCERT_CHAIN_CONTEXT;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CertFreeCertificateChain(h); }
};
struct CryptMsgTraits {
    using Type = HCRYPTMSG;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CryptMsgClose(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;   // events, processes, threads, tokens
using ScopedFile         = ScopedHandle<FileHandleTraits>;     // CreateFile results, snapshots
using ScopedFind         = ScopedHandle<FindHandleTraits>;     // FindFirstFile results
using ScopedCryptProvider = ScopedHandle<CryptProviderTraits>; // CryptoAPI providers
using ScopedCryptHash    = ScopedHandle<CryptHashTraits>;
using ScopedCryptKey     = ScopedHandle<CryptKeyTraits>;
using ScopedInternet     = ScopedHandle<InternetHandleTraits>; // WinINet handles
using ScopedModule       = ScopedHandle<ModuleHandleTraits>;   // LoadLibrary results
using ScopedRegKey       = ScopedHandle<RegKeyTraits>;         // plain registry keys
using ScopedGdiObject    = ScopedHandle<GdiObjectTraits>;      // bitmaps, fonts, brushes, pens
using ScopedMemoryDc     = ScopedHandle<MemoryDcTraits>;       // CreateCompatibleDC results
using ScopedRegion       = ScopedHandle<RegionTraits>;
using ScopedCertStore    = ScopedHandle<CertStoreTraits>;
using ScopedCertContext  = ScopedHandle<CertContextTraits>;
using ScopedCertChainEngine = ScopedHandle<CertChainEngineTraits>;
using ScopedCertChain    = ScopedHandle<CertChainTraits>;
using ScopedCryptMsg     = ScopedHandle<CryptMsgTraits>;

// Selects a GDI object into a device context and restores the previous one.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ obj) : m_dc(dc), m_old(::SelectObject(dc, obj)) {}
    ~ScopedSelectObject() { if (m_old) ::SelectObject(m_dc, m_old); }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// A window's device context from GetDC, released with ReleaseDC.
class ScopedWindowDc {
public:
    explicit ScopedWindowDc(HWND wnd) : m_wnd(wnd), m_dc(::GetDC(wnd)) {}
    ~ScopedWindowDc() { if (m_dc) ::ReleaseDC(m_wnd, m_dc); }
    ScopedWindowDc(const ScopedWindowDc&) = delete;
    ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;
    HDC get() const { return m_dc; }
private:
    HWND m_wnd;
    HDC m_dc;
};

// OLE initialised for the current thread, uninitialised at scope end.
class ScopedOleInit {
public:
    ScopedOleInit() : m_hr(::OleInitialize(nullptr)) {}
    ~ScopedOleInit() { if (SUCCEEDED(m_hr)) ::OleUninitialize(); }
    ScopedOleInit(const ScopedOleInit&) = delete;
    ScopedOleInit& operator=(const ScopedOleInit&) = delete;
    HRESULT result() const { return m_hr; }
private:
    HRESULT m_hr;
};

}  // namespace zelto
