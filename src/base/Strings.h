// String-table texts and the program's message box.
#pragma once

#include <windows.h>

#include <string>

// The text of a string-table entry of the program (code page 949), or "".
std::string LoadResString(UINT id);

// The program's message box: an OK box with the warning icon, captioned with
// the application title, showing the string-table text followed by suffix.
// In a quiet run the text goes to the log (level 1) instead, and IDOK back.
int ShowMessage(UINT textId, const std::string& suffix = std::string(), HWND owner = nullptr);
