#include "app/CommandLine.h"

#include "base/Log.h"
#include "catalogue/UpdateInfoMgr.h"

#include <cstdlib>
#include <cstring>

namespace {

// A switch is a dash and its letter, in either case, and nothing more:
// "-update" is no "-u".
bool IsSwitch(const char* arg, char letter)
{
    return arg[0] == '-' && (arg[1] == letter || arg[1] == static_cast<char>(letter - 'a' + 'A')) && arg[2] == '\0';
}

// Switches followed by their value.
bool TakesValue(const char* arg)
{
    return IsSwitch(arg, 'x') || IsSwitch(arg, 'w') || IsSwitch(arg, 'l');
}

}  // namespace

RunSwitches ReadSwitches(int argc, char** argv)
{
    RunSwitches switches;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsSwitch(arg, 'l') && i + 1 < argc) switches.logPath = argv[++i];
        else if (TakesValue(arg)) ++i;
        else if (IsSwitch(arg, 'u')) switches.uninstallMode = 1;
        else if (IsSwitch(arg, 'q')) switches.quiet = true;
        else if (IsSwitch(arg, 'v')) switches.verify = true;
    }
    return switches;
}

BOOL ParseCommandLine(int argc, char** argv, RunSwitches& switches)
{
    if (argc < 2) return FALSE;

    BOOL result = TRUE;
    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsSwitch(arg, 'x')) {
            if (i + 1 >= argc) break;
            const char* document = argv[++i];
            if (std::strlen(document) > MAX_PARAM_DOCUMENT) {
                // Never cut a document silently: a cut one could still parse.
                WriteLog(1, "[ParseCommandLine] -x document longer than %d characters",
                         static_cast<int>(MAX_PARAM_DOCUMENT));
                result = FALSE;
                continue;
            }
            result = manager->ParseXMLArgument(document);
        } else if (IsSwitch(arg, 'u')) {
            switches.uninstallMode = 1;
        } else if (IsSwitch(arg, 'q')) {
            switches.quiet = true;
        } else if (IsSwitch(arg, 'v')) {
            switches.verify = true;
        } else if (IsSwitch(arg, 'l')) {
            if (i + 1 >= argc || !argv[i + 1][0]) {
                WriteLog(1, "[ParseCommandLine] -l names no file");
                return FALSE;
            }
            switches.logPath = argv[++i];
        } else if (IsSwitch(arg, 'w')) {
            if (i + 1 >= argc) break;
            int handle = std::atoi(argv[++i]);
            manager->SetNotifyWindow(reinterpret_cast<HWND>(static_cast<INT_PTR>(handle)));
        } else {
            // Anything else, a switch of another letter or length or a stray
            // word, refuses the whole command line: it was meant as something.
            WriteLog(1, "[ParseCommandLine] %s: no such switch; the command line is refused", arg);
            return FALSE;
        }
    }
    return result;
}
