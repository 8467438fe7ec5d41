// A stand-in for the browser's control cache library: "RemoveControlByName"
// appends its arguments to the file named by ZELTO_OCCACHE_LOG.
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllexport) HRESULT WINAPI RemoveControlByName(LPCSTR file, LPCSTR clsid, LPCSTR typeLib,
                                                                   BOOL force, BOOL distributionUnit)
{
    char log[MAX_PATH] = {};
    if (::GetEnvironmentVariableA("ZELTO_OCCACHE_LOG", log, MAX_PATH)) {
        if (FILE* f = std::fopen(log, "ab")) {
            std::fprintf(f, "%s|%s|%s|%d|%d\r\n", file ? file : "(null)", clsid ? clsid : "(null)",
                         typeLib ? typeLib : "(null)", force, distributionUnit);
            std::fclose(f);
        }
    }
    return S_OK;
}
