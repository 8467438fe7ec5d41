// The second lock on what the run places, registers and starts: every
// executable file of an item must carry the code signature of a publisher
// pinned for the item in the catalogue, and of one pinned in the program
// itself where the build names one, checked on the staged bytes before
// anything of the item is placed.
#pragma once

#include "catalogue/UpdateSet.h"

#include <string>

// The publishers the build pins for every item (none: only the catalogue's pins).
SignerPins BuiltInSignerPins();

// True when a file of this name is a program or a library the system loads
// or starts (DLL, OCX, EXE and their kin), compared without regard to case.
bool IsExecutableName(const std::string& name);

// Checks the file at path against the item's pins and the built-in ones
// (each set that is not empty must match); nothing to check when both are
// empty. On a refusal: a log line naming the file, its signer and why, and
// LastError 1027 (unsigned), 1028 (changed after signing), 1029 (signer not
// pinned) or 1030 (signer's certificate not valid when it signed), with the
// system's result; returns 0.
BOOL CheckSigner(const char* path, const SignerPins& itemPins, const SignerPins& builtInPins);

// Checks the staged bytes of every executable file of the item (by its name,
// or by its bytes being a PE image) that the run is about to place; 0 when
// any is refused.
BOOL CheckItemSigners(const CUpdateSet& item);
