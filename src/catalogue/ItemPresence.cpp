#include "catalogue/ItemPresence.h"

#include "catalogue/CatalogueValues.h"
#include "sys/RegKey.h"
#include "sys/Util.h"

namespace {

// The registered main control of an item without a record.
bool MainClassRegistered(const pugi::xml_node& item)
{
    for (pugi::xml_node file = item.child("FILE"); file; file = file.next_sibling("FILE")) {
        std::string classId;
        if (catalogue::Flag(file, "MAINFILE") != 1 || !catalogue::ChildText(file, "CLASSID", classId)) continue;
        WORD code = 0;
        return CUtil::CheckClassRegistration(classId.c_str(), &code) && code == 1;
    }
    return false;
}

}  // namespace

bool IsItemInstalled(const pugi::xml_node& item, const std::string& name)
{
    CRegKey record;
    if (!name.empty() && name.find('\\') == std::string::npos &&
        record.Open(HKEY_LOCAL_MACHINE, (std::string(kItemRecordsKey) + "\\" + name).c_str(), ZELTO_KEY_READ) ==
        ERROR_SUCCESS)
        return true;
    return MainClassRegistered(item);
}
