// Holds a library loaded, as a browser holds a control: loads the file given
// as its argument and waits (at most 60 s) until it is ended. When
// ZELTO_HOLDER_READY names a file, that file is made once the library is
// loaded, so that a test waits for exactly that.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 2 || !::LoadLibraryA(__argv[1])) return 1;
    char ready[MAX_PATH];
    if (::GetEnvironmentVariableA("ZELTO_HOLDER_READY", ready, sizeof(ready)))
        ::CloseHandle(::CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ::Sleep(60000);
    return 0;
}
