// The program's only road to the network: stateless operations over WinINet.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

// Every Internet handle the program opens uses this agent string.
constexpr const char* ZELTO_AGENT = "ZeltoOmbrix/1.0.1.31";

class CHttpUtil {
public:
    // The host name of a URL; the URL unchanged when it contains "about:";
    // "" when the URL cannot be split (LastError 1010).
    static std::string ExtractDomainFromURL(const char* url);
};
