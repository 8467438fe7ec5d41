// Shows one skinned dialog for a screenshot:
//   ui_gallery msg <browser major version> <mode> <done file>
//   ui_gallery confirm <text> <done file>
// Prints "SHOWN x y width height" once the dialog is up, then closes it with
// OK when the done file appears (or after 30 s).
#include "ui/MsgDialog.h"

#include "DialogDriver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (__argc < 4) return 2;
    const std::string kind = __argv[1];
    const std::string done = __argv[__argc - 1];
    auto whileUp = [&](HWND dialog) {
        ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        RECT rc;
        ::GetWindowRect(dialog, &rc);
        std::printf("SHOWN %ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
        for (int i = 0; i < 300 && ::GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(100);
    };
    testutil::DialogDriver driver(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), whileUp);
    if (kind == "msg" && __argc >= 5) {
        CMsgDialog dialog(nullptr, std::atoi(__argv[3]), std::atoi(__argv[2]));
        dialog.DoModal();
    } else {
        CMsgDialogConfirm dialog(__argv[2]);
        dialog.DoModal();
    }
    return 0;
}
