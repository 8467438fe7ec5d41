// The start-up benchmark's reference: a bare Win32 program that creates a
// window and posts status 20 (UM_SETUP_STATUS) to the "-w" window at once,
// then ends.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = "ZeltoStartupBare";
    ::RegisterClassA(&wc);
    HWND wnd = ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    const char* w = std::strstr(commandLine, "-w ");
    HWND notify = w ? reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(w + 3, nullptr, 10))) : nullptr;
    if (notify) ::PostMessageA(notify, WM_USER + 2, 20, reinterpret_cast<LPARAM>(wnd));
    ::DestroyWindow(wnd);
    return 0;
}
