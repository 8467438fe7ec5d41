// The program's exit code: how the run ended, for scripts and installers that
// start it (the same codes in every mode).
#pragma once

#include <windows.h>

enum RunExitCode : DWORD {
    EXIT_RUN_DONE = 0,                // finished: nothing left to do, or everything installed or removed
    EXIT_RUN_RESTART_DECLINED = 3010, // finished; a restart is needed and the user declined it (status 90)
    EXIT_RUN_RESTART_STARTED = 1641,  // the restart was started (status 91)
    EXIT_RUN_CANCELLED = 1602,        // the user cancelled (status 102, a cancelled download, the wizard left)
    EXIT_RUN_FAILED = 1603,           // the run failed (status 101 or 106, a failed removal)
    EXIT_RUN_ANOTHER_RUNNING = 1618,  // another ZeltoSetup is running
    EXIT_RUN_LOG_FAILED = 1622,       // the "-l" file cannot be made (its folder is missing, no right to write)
    EXIT_RUN_BAD_COMMAND_LINE = 1639, // the command line was refused (message 61209)
};

void SetRunExitCode(DWORD code);
DWORD GetRunExitCode();
// The exit code a final status stands for; false for the other statuses.
bool ExitCodeOfStatus(int status, DWORD& code);
