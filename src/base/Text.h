// Letter case of code page 949 texts: ASCII letters change, double-byte
// characters are left as they are.
#pragma once

#include <string>

std::string LowerCase949(const std::string& text);
std::string UpperCase949(const std::string& text);
