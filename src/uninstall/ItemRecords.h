// Reading the records the install engine leaves for every installed item.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// One installed file of an item, from its record.
class CUninstallFile {
public:
    std::string FilePath;
    int Unregister = 0;
    int SharedDll = 0;
    std::string ClassID;
};

using UninstallFileList = std::vector<std::unique_ptr<CUninstallFile>>;

// The recorded item names in the registry's order; false when the record root
// cannot be opened (logged; the caller closes the main window).
bool ListRecordedItems(std::vector<std::string>& names);

// The file entries of one item; 1 when the item key could be opened.
BOOL GetFileList(const std::string& itemKeyPath, UninstallFileList& files);
