// How the catalogue's values are read: texts, integers, flags, version and
// time lists. Texts are code page 949 bytes, used as the parser delivers them.
#pragma once

#include <windows.h>

#include <pugixml.hpp>

#include <string>

namespace catalogue {

// The value of the element's first child node; "" when it has none.
std::string Text(const pugi::xml_node& element);
// The text of the first child element of that name; false when absent.
bool ChildText(const pugi::xml_node& parent, const char* name, std::string& text);
// atol rules: leading blanks, optional sign, digits; no digits give 0.
long Integer(const std::string& text);
// 1 only for the text "1".
int Flag(const pugi::xml_node& parent, const char* name);
// "a,b,c,d" packed as high = (a << 16) | (b & 0xFFFF), low = (c << 16) | (d & 0xFFFF).
void VersionList(const std::string& text, DWORD& high, DWORD& low);
// "year,month,day,hour,minute,second" of local time, as a UTC file time;
// 0 when the text does not form a valid date.
ULONGLONG TimeList(const std::string& text);
// HKLM, HKCU, HKCR (any case); nullptr for anything else.
HKEY RootByName(const std::string& name);

}  // namespace catalogue
