// The program's entry point.
#include "app/ZeltoMgrApp.h"
#include "base/SystemLibrary.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The program runs elevated from wherever it was downloaded to: no library
    // may come from that folder or the current one.
    RestrictLibrarySearch();
    CZeltoMgrApp app;
    app.InitInstance();
    app.Run();
    return app.ExitInstance();
}
