/* A DLL planted beside the program under the name of a system library: when
   anything loads it, it leaves "<its path>.loaded" behind. It exports
   nothing, so a program that imports the library it stands for cannot start
   with it either way. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8] = {0};
        DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
        if (length && length < MAX_PATH) {
            lstrcatA(path, ".loaded");
            HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
        }
    }
    return TRUE;
}
