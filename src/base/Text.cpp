#include "base/Text.h"

#include <windows.h>

namespace {

std::string ChangeCase(const std::string& text, char from, char to)
{
    std::string out = text;
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (::IsDBCSLeadByteEx(949, c) && i + 1 < out.size()) { ++i; continue; }
        if (c >= static_cast<unsigned char>(from) && c <= static_cast<unsigned char>(from + 25))
            out[i] = static_cast<char>(c - from + to);
    }
    return out;
}

}  // namespace

std::string LowerCase949(const std::string& text)
{
    return ChangeCase(text, 'A', 'a');
}

std::string UpperCase949(const std::string& text)
{
    return ChangeCase(text, 'a', 'A');
}
