// Whether a catalogue item is installed on this machine: what decides
// whether its new files are an update or a first install, for the question,
// the install count and the staged release alike.
#pragma once

#include <pugixml.hpp>

#include <string>

// The program's uninstall entry under HKEY_LOCAL_MACHINE; each recorded
// item is a key below it.
constexpr const char* kItemRecordsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZeltoSetup";

// True when the item is recorded as installed (its key under the uninstall
// entry), or else (an item that keeps no record, SELFUNINSTALLER, or whose
// record went) when the class of its main FILE is registered and loads.
// Which of its
// FILEs lie at their destinations does not count: another item may have put
// a shared file there, and a user may have deleted one.
bool IsItemInstalled(const pugi::xml_node& item, const std::string& name);
