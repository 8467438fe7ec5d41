// An auxiliary program for tests of RUNFILE and EXECUTE: appends its command
// line, its own path and a time stamp to the file named by ZELTO_AUX_LOG
// ("tick|module|command line"), then waits
// ZELTO_AUX_SLEEP_MS milliseconds (0 when unset) before it ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char log[MAX_PATH] = {};
    if (::GetEnvironmentVariableA("ZELTO_AUX_LOG", log, MAX_PATH)) {
        if (FILE* f = std::fopen(log, "ab")) {
            char module[MAX_PATH] = {};
            ::GetModuleFileNameA(nullptr, module, MAX_PATH);
            std::fprintf(f, "%lu|%s|%s\r\n", static_cast<unsigned long>(::GetTickCount()), module,
                         ::GetCommandLineA());
            std::fclose(f);
        }
    }
    char sleep[32] = {};
    if (::GetEnvironmentVariableA("ZELTO_AUX_SLEEP_MS", sleep, sizeof(sleep))) ::Sleep(std::atoi(sleep));
    return 0;
}
