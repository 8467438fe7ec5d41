// Whether a file is held by a running process, and closing the processes
// that hold it after the user agrees.
#pragma once

#include <windows.h>

// 1 when the file can be opened exclusively (or is missing); 0 when in use.
BOOL IsFileFree(const char* path);

// Closes every process that has a module of this base name (any case).
// detectOnly: return 0 at the first match without asking or closing.
// agreement: null asks per match; a byte of 0 asks once and records consent.
// probePath: the library's full path when known; a free file there ends the
// search at once. Without it every process is looked at.
BOOL CloseProcessesUsingModuleName(const char* name, BYTE mode, HWND disableWnd, BYTE* agreement, BYTE detectOnly,
                                   const char* probePath = nullptr);
// The same, matching modules by their full (long) path.
BOOL CloseProcessesUsingModulePath(const char* path, BYTE mode, HWND disableWnd, BYTE* agreement, BYTE detectOnly);

// From browser 8 on: asks the user to close the browser until the file is
// free (1) or the user cancels (0); ten requests at the most, and a dialog
// that cannot be shown counts as Cancel.
BYTE WaitUntilFileReleased(const char* path, BYTE mode, HWND disableWnd);
