// The program's log: one line per step in "ZeltoOmbrix.log" beside the
// program file, written when the line's level is at most the configured one.
#pragma once

#include <windows.h>

#include <string>

enum : BYTE {
    LOG_FLAG_DEBUGGER = 0x01,  // also send each line to OutputDebugStringA
};

constexpr DWORD LOG_RESTART_SIZE = 3145728;   // at this size the file starts over
constexpr size_t LOG_LINE_BUFFER = 1024;      // tag, text, CR LF and terminator

// Sets flags and level, takes the folder from the program file's path and
// writes the start banner at level 1.
void StartLog(BYTE flags, BYTE level);

// Writes one line "[ZeltoSetup]" + the formatted text (wvsprintfA rules).
void WriteLog(BYTE level, const char* format, ...);

// Starts the log in the file at path instead, at level 2 whatever the
// registry says (the run's "-l"): a file made new; false when anything of
// that name exists already (a file, a link, a junction, a folder).
bool StartLogFile(BYTE flags, const char* path);

// Marks the log as not started (lines are dropped again until StartLog).
void StopLog();

// The full path of the log file, or "" before StartLog.
std::string GetLogFilePath();

// Reads the level from HKLM "Software\QRV Corporation\" "ZeltoSetupLog":
// the value's first four bytes as a number, 0 when missing or longer.
BYTE ReadLogLevelSetting();
