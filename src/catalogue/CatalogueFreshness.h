// What binds a signed catalogue to its time and place: attributes of its
// root element, inside the signed bytes, that older readers pass over.
//   SERIAL   decimal, never lower than the last one this machine accepted
//            from the same catalogue URL (an older catalogue replayed)
//   MODE     the run mode the catalogue was published for
//   EXPIRES  optional, "YYYY-MM-DDTHH:MM:SSZ" (UTC): not accepted after it
#pragma once

#include <windows.h>

#include <pugixml.hpp>

#include <string>

struct CatalogueBinding {
    bool hasSerial = false;
    ULONGLONG serial = 0;
    std::string serialText;     // as written (for the log)
    std::string mode;           // empty when absent
    bool hasExpiry = false;
    bool expiryReadable = false;
    ULONGLONG expires = 0;      // FILETIME (UTC, 100 ns)
    std::string expiresText;
};

// Reads SERIAL, MODE and EXPIRES of the catalogue's root element.
CatalogueBinding ReadCatalogueBinding(const pugi::xml_node& root);

// "YYYY-MM-DDTHH:MM:SSZ" as a FILETIME; false when the text is not one.
bool ParseUtcTime(const std::string& text, ULONGLONG& fileTime);

// The decision: 0 when the catalogue may be used, else the LastError code
// (1017 replayed, 1018 expired, 1019 other mode or unbound) and why in words.
// highest: the highest SERIAL accepted before (hasHighest false: none);
// now: the system clock as a FILETIME.
DWORD JudgeCatalogueBinding(const CatalogueBinding& binding, const std::string& runMode, bool hasHighest,
                            ULONGLONG highest, ULONGLONG now, std::string& why);

// The highest SERIAL accepted from url on this machine (HKLM, the program's
// own key); false when none was recorded.
bool ReadAcceptedSerial(const std::string& url, ULONGLONG& serial);
// Records serial for url unless a higher one is recorded; false when it
// could not be written.
bool RecordAcceptedSerial(const std::string& url, ULONGLONG serial);

// Where the accepted serials are kept, below HKEY_LOCAL_MACHINE.
constexpr const char* kCatalogueSerialsKey = "Software\\QRV Corporation\\ZeltoSetup\\CatalogueSerials";
