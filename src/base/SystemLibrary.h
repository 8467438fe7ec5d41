// Loading the system's own libraries by their full path, never by a bare
// name that the program's folder or the current folder could answer.
#pragma once

#include <windows.h>

// From now on, libraries loaded by name come from the system folder only
// (where the system offers SetDefaultDllDirectories), the current folder is
// never searched. Called first thing at start. (The delay-loaded system
// libraries always come from the system folder by full path: the program's
// own delay-load helper loads them.)
void RestrictLibrarySearch();

// name (a file name, "RichEd20.dll") from the system folder; null on failure.
HMODULE LoadSystemLibrary(const char* name);
