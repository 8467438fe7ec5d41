// Running programs during installation: the auxiliary program a file names
// in its RUNFILE element, and the placed file itself by its EXECUTE option.
#pragma once

#include "catalogue/UpdateInfo.h"

// Execute option bits.
enum : int {
    EXECUTE_WAIT = 2,     // wait for the program to end
    EXECUTE_DELETE = 4,   // delete the file after running it
};

// The longest an auxiliary program or a placed file run with EXECUTE's wait
// is waited for: long enough for a real setup program; one still running
// then is ended (logged) and the run goes on.
constexpr DWORD kProgramWaitMs = 30 * 60 * 1000;

// TRUE when the file has no auxiliary program, or it was started (and
// waited for); a current local copy runs where it is, an older or missing
// one is downloaded first.
BOOL RunFileAndWait(const CUpdateInfo& file);

// Runs the placed file when its execute option asks for it.
void ExecuteDownloadedFile(const CUpdateInfo& file);
