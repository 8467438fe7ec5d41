// What binds a signed catalogue to its time and place: attributes of its
// root element, inside the signed bytes, that older readers pass over.
//   SERIAL   decimal, never lower than the last one this machine accepted
//            for the same run mode, whatever host or scheme it came from
//            (an older catalogue replayed)
//   MODE     the run mode the catalogue was published for
//   EXPIRES  "YYYY-MM-DDTHH:MM:SSZ" (UTC): not accepted after it; a signed
//            catalogue without one is refused (it could be frozen for ever)
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
// (1017 replayed, 1018 expired, 1019 other mode or unbound: no SERIAL, MODE
// or EXPIRES) and why in words.
// highest: the highest SERIAL accepted before (hasHighest false: none);
// now: the system clock as a FILETIME.
DWORD JudgeCatalogueBinding(const CatalogueBinding& binding, const std::string& runMode, bool hasHighest,
                            ULONGLONG highest, ULONGLONG now, std::string& why);

// The highest SERIAL accepted for the run mode on this machine (HKLM, the
// program's own key, one value per mode in lower case); false when none was
// recorded. Values older versions kept per catalogue URL
// (".../Repository/<mode>/<mode>.xml") are carried over to the mode's, the
// highest of them, and removed.
bool ReadAcceptedSerial(const std::string& mode, ULONGLONG& serial);
// Records serial for the mode unless a higher one is recorded; false when
// it could not be written.
bool RecordAcceptedSerial(const std::string& mode, ULONGLONG serial);
// Forgets every mode's SERIAL: the set of keys that may sign catalogues
// changed, and a floor protects against replays signed by the keys trusted
// now (the way back from a serial signed far ahead by mistake or with a
// leaked key).
void ResetAcceptedSerials();

// Where the accepted serials are kept, below HKEY_LOCAL_MACHINE.
constexpr const char* kCatalogueSerialsKey = "Software\\QRV Corporation\\ZeltoSetup\\CatalogueSerials";
