// The program's command line: "-x" document, "-u", "-w" window.
#pragma once

#include <windows.h>

constexpr size_t MAX_PARAM_DOCUMENT = 4095;   // characters of a "-x" document

// Walks the argument vector (argv[0] is the program). Hands each "-x"
// document to the catalogue manager, stores "-w" as its notification window
// and sets uninstallMode to 1 for "-u". Returns 1 when the command line is
// valid: there was an argument and the last "-x" document was accepted.
BOOL ParseCommandLine(int argc, char** argv, int& uninstallMode);
