// The program's entry point.
#include "app/ZeltoMgrApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CZeltoMgrApp app;
    app.InitInstance();
    app.Run();
    return app.ExitInstance();
}
