#include "base/RunOutcome.h"

namespace {

DWORD g_exitCode = EXIT_RUN_DONE;

}  // namespace

void SetRunExitCode(DWORD code)
{
    g_exitCode = code;
}

DWORD GetRunExitCode()
{
    return g_exitCode;
}

bool ExitCodeOfStatus(int status, DWORD& code)
{
    switch (status) {
    case 100: code = EXIT_RUN_DONE; return true;
    case 90: code = EXIT_RUN_RESTART_DECLINED; return true;
    case 91: code = EXIT_RUN_RESTART_STARTED; return true;
    case 102: code = EXIT_RUN_CANCELLED; return true;
    case 101:
    case 106: code = EXIT_RUN_FAILED; return true;
    default: return false;
    }
}
