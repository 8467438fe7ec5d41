// The catalogue's ADDREG and DELREG elements, applied while it is read.
#include "catalogue/CatalogueValues.h"
#include "catalogue/UpdateSet.h"

#include "base/Handles.h"
#include "base/Log.h"
#include "sys/RegKey.h"

using catalogue::ChildText;

BOOL CUpdateSet::AddRegistry(const pugi::xml_node& element)
{
    const char* type = element.attribute("TYPE").value();
    const bool isString = lstrcmpiA(type, "string") == 0, isDword = lstrcmpiA(type, "dword") == 0;
    if (!isString && !isDword) {
        WriteLog(1, "[AddRegistry] Invalid Type");
        return 0;
    }
    HKEY root = nullptr;
    std::string text;
    if (ChildText(element, "ROOT", text)) {
        root = catalogue::RootByName(text);
        if (!root) {
            WriteLog(1, "[AddRegistry] Invalid Root");
            return 0;
        }
    }
    std::string keyPath;
    zelto::ScopedRegKey key;
    if (ChildText(element, "KEY", keyPath)) {
        LONG error = ::RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                       nullptr, key.receive(), nullptr);
        if (error != ERROR_SUCCESS) {
            WriteLog(1, "[AddRegistry] RegCreateKeyEx(%s) Failed, Error Code = %d", keyPath.c_str(), error);
            return 0;
        }
    }
    std::string valueName, value;
    const bool hasName = ChildText(element, "VALUE_NAME", valueName);
    const bool hasValue = ChildText(element, "VALUE", value);
    DWORD number = static_cast<DWORD>(catalogue::Integer(value));
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (hasValue) {
        if (isString) { data = reinterpret_cast<const BYTE*>(value.c_str()); size = static_cast<DWORD>(value.size() + 1); }
        else { data = reinterpret_cast<const BYTE*>(&number); size = sizeof(number); }
    }
    LONG error = ::RegSetValueExA(key.get(), hasName ? valueName.c_str() : nullptr, 0, isString ? REG_SZ : REG_DWORD,
                                  data, size);
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[AddRegistry] RegSetValue(%s, %s) Failed, Error Code = %d", keyPath.c_str(), valueName.c_str(), error);
        return 0;
    }
    return 1;
}

BOOL CUpdateSet::DeleteRegistry(const pugi::xml_node& element)
{
    HKEY root = nullptr;
    std::string text;
    if (ChildText(element, "ROOT", text)) {
        root = catalogue::RootByName(text);
        if (!root) {
            WriteLog(1, "[DeleteRegistry] Invalid Root");
            return 0;
        }
    }
    std::string keyPath, valueName;
    ChildText(element, "KEY", keyPath);
    if (ChildText(element, "VALUE_NAME", valueName)) {
        zelto::ScopedRegKey key;
        LONG error = ::RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.receive());
        if (error != ERROR_SUCCESS) {
            WriteLog(1, "[DeleteRegistry] RegOpenKeyEx(%s) Failed, Error Code = %d", keyPath.c_str(), error);
            return 0;
        }
        error = ::RegDeleteValueA(key.get(), valueName.c_str());
        if (error != ERROR_SUCCESS) {
            WriteLog(1, "[DeleteRegistry] RegDeleteValue(%s) Failed, Error Code = %d", valueName.c_str(), error);
            return 0;
        }
        return 1;
    }
    // Without a key the tree would be the whole root: refused.
    if (keyPath.empty() || keyPath.find_first_not_of('\\') == std::string::npos) {
        WriteLog(1, "[DeleteRegistry] Invalid Key");
        return 0;
    }
    LONG error = DeleteKeyTree(root, keyPath.c_str());
    if (error != ERROR_SUCCESS) {
        WriteLog(1, "[DeleteRegistry] RegDeleteAllKey(%s) Failed, Error Code = %d", keyPath.c_str(), error);
        return 0;
    }
    return 1;
}
