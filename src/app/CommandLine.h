// The program's command line: "-x" document, "-u", "-w" window, and the
// administrators' "-q" quiet, "-l" log file, "-v" verify.
#pragma once

#include <windows.h>

#include <string>

constexpr size_t MAX_PARAM_DOCUMENT = 4095;   // characters of a "-x" document

struct RunSwitches {
    int uninstallMode = 0;   // "-u"
    bool quiet = false;      // "-q": no window, nobody asked
    bool verify = false;     // "-v": present files checked against their SHA256
    std::string logPath;     // "-l <path>": the run's log goes there, at level 2
};

// Walks the argument vector (argv[0] is the program). Hands each "-x"
// document to the catalogue manager, stores "-w" as its notification window
// and fills switches. Returns 1 when the command line is valid: there was an
// argument, each was one of the six switches as written (a dash and one
// letter, in either case) or a switch's value, the last "-x" document was
// accepted, and "-l" named a path.
BOOL ParseCommandLine(int argc, char** argv, RunSwitches& switches);

// The switches alone, the documents untouched: read before anything else, so
// that the log starts where the administrator wants it and a quiet run shows
// not even its first message.
RunSwitches ReadSwitches(int argc, char** argv);
