// Holds a library loaded, as a browser holds a control: loads the file given
// as its argument and waits (at most 60 s) until it is ended.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc < 2 || !::LoadLibraryA(__argv[1])) return 1;
    ::Sleep(60000);
    return 0;
}
