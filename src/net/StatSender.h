// One-shot statistics requests to the portal's servers. No ping is retried
// or reported to the user; each ends in one log line.
#pragma once

#include <string>

class CStatSender {
public:
    static void SendStartPageCount();
    static void SendSearchEngineCount();
    static void SendBeforeStartPage();
    // Requests the statistics URL of the installed items (the catalogue
    // manager's GetModuleInstallTag); nothing when it is empty.
    static void SendModuleInstallCount(const std::string& tag);
};
