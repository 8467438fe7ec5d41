// The copy of the program that the uninstall entry names: it lies in
// "<program files>\Zelto", which only administrators may write, never in the
// folder the program was started from (a browser's download folder, which
// the user and whatever the user runs may write).
#pragma once

#include <string>

// "<program files>\Zelto\ZeltoSetup.exe"; "" when the program files folder
// is no full path.
std::string ProgramCopyPath();

// Makes the copy from the running program when there is none, when it is
// older than the running one, or when its bytes differ from a running
// program of the same version; it is written beside its place, compared
// byte for byte and only then moved there. True when a copy is in place
// (made now or kept).
bool EnsureProgramCopy();

// Removes the copy (at the next restart when it is the running program or
// cannot be deleted now).
void RemoveProgramCopy();
