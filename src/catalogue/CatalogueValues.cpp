#include "catalogue/CatalogueValues.h"

#include "sys/Util.h"

#include <cstdlib>

namespace catalogue {

std::string Text(const pugi::xml_node& element)
{
    return element.first_child().value();
}

bool ChildText(const pugi::xml_node& parent, const char* name, std::string& text)
{
    pugi::xml_node child = parent.child(name);
    if (!child) return false;
    text = Text(child);
    return true;
}

long Integer(const std::string& text)
{
    return std::atol(text.c_str());
}

int Flag(const pugi::xml_node& parent, const char* name)
{
    std::string text;
    return ChildText(parent, name, text) && text == "1" ? 1 : 0;
}

void VersionList(const std::string& text, DWORD& high, DWORD& low)
{
    std::string list = text;
    DWORD a = static_cast<DWORD>(Integer(CUtil::NextCommaToken(list)));
    DWORD b = static_cast<DWORD>(Integer(CUtil::NextCommaToken(list)));
    DWORD c = static_cast<DWORD>(Integer(CUtil::NextCommaToken(list)));
    DWORD d = static_cast<DWORD>(Integer(CUtil::NextCommaToken(list)));
    high = (a << 16) | (b & 0xFFFF);
    low = (c << 16) | (d & 0xFFFF);
}

ULONGLONG TimeList(const std::string& text)
{
    std::string list = text;
    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(Integer(CUtil::NextCommaToken(list)));
    local.wMonth = static_cast<WORD>(Integer(CUtil::NextCommaToken(list)));
    local.wDay = static_cast<WORD>(Integer(CUtil::NextCommaToken(list)));
    local.wHour = static_cast<WORD>(Integer(CUtil::NextCommaToken(list)));
    local.wMinute = static_cast<WORD>(Integer(CUtil::NextCommaToken(list)));
    local.wSecond = static_cast<WORD>(Integer(CUtil::NextCommaToken(list)));
    FILETIME localTime, utc;
    // A text that is no valid date (month 13, day 0, letters) means no time.
    if (!::SystemTimeToFileTime(&local, &localTime) || !::LocalFileTimeToFileTime(&localTime, &utc)) return 0;
    return (static_cast<ULONGLONG>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
}

HKEY RootByName(const std::string& name)
{
    if (lstrcmpiA(name.c_str(), "HKLM") == 0) return HKEY_LOCAL_MACHINE;
    if (lstrcmpiA(name.c_str(), "HKCU") == 0) return HKEY_CURRENT_USER;
    if (lstrcmpiA(name.c_str(), "HKCR") == 0) return HKEY_CLASSES_ROOT;
    return nullptr;
}

}  // namespace catalogue
