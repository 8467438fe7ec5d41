// One-shot statistics requests to the portal's servers. No ping is retried
// or reported to the user; each ends in one log line.
#pragma once

class CStatSender {
public:
    static void SendStartPageCount();
    static void SendSearchEngineCount();
    static void SendBeforeStartPage();
    static void SendModuleInstallCount();
};
