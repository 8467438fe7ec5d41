// Staged release of a catalogue item: the ROLLOUT element of an UPDATEITEM
// (inside the signed bytes; older readers pass over it) decides which
// machines take the item's new files now.
//   <ROLLOUT SALT="hex" START="YYYY-MM-DDTHH:MM:SSZ" PERCENT="20"/>
//   <ROLLOUT SALT="hex" START="..." RAMP="1:0,5:24,20:48,50:72,100:96"/>
//     RAMP: percent:hours after START, the stage rising at each step
//   HALTED="YYYY-MM-DDTHH:MM:SSZ"  the stage stays where it was then
//   CRITICAL="1"                   every machine, at once
//   FIRST="staged"                 first installs wait for the stage too
//                                  (by default an item absent from the
//                                  machine is always offered)
// A machine is in the stage when its bucket (0-9999, from its install id,
// the item's name and SALT) is below the stage in hundredths of a percent:
// a larger percentage only adds machines, a new SALT picks other ones first.
#pragma once

#include <windows.h>

#include <pugixml.hpp>

#include <string>
#include <utility>
#include <vector>

constexpr int kFullStage = 10000;   // 100 % in hundredths of a percent

struct CRollout {
    bool present = false;    // the item has a ROLLOUT element
    bool valid = false;      // it could be read; an unreadable one holds the item
    std::string why;         // what could not be read
    std::string salt;
    ULONGLONG start = 0;     // FILETIME (UTC); 0 = not stated
    int percent = -1;        // PERCENT in hundredths; -1 = not stated
    std::vector<std::pair<ULONGLONG, int>> ramp;   // (100 ns after start, hundredths), rising
    ULONGLONG halted = 0;    // FILETIME; 0 = not halted
    bool critical = false;
    bool stageFirstInstalls = false;
};

// Reads the item's ROLLOUT element (none: present false).
CRollout ReadRollout(const pugi::xml_node& item);

// "20", "0.5", "12.25", "100.0" as hundredths of a percent (0..10000): one
// to three digits, then optionally a point and one or two digits; -1
// otherwise. The operators' tool reads them with the same grammar (the
// table tests/data/rollout-grammar.txt holds both to it).
int ParsePercent(const std::string& text);

// "1:0,5:24,20:48": percent:hours steps, hours rising, percent not falling,
// at most 32 steps; ramp receives (100 ns after START, hundredths).
bool ParseRamp(const std::string& text, std::vector<std::pair<ULONGLONG, int>>& ramp);

// The stage at time now (FILETIME): 0 before START, then PERCENT or the
// ramp's step reached, frozen at HALTED; 100 % without PERCENT and RAMP, or
// when CRITICAL.
int StageAt(const CRollout& rollout, ULONGLONG now);

// The machine's bucket for an item (0..9999): the first eight bytes of the
// SHA-256 of "<install id>|<item>|<salt>", modulo 10000.
int RolloutBucket(const std::string& installId, const std::string& item, const std::string& salt);

// True when version (high, low) begins with the dotted prefix, component by
// component ("1.2" matches 1.2.7.0, not 1.20.0.0); an empty or unreadable
// prefix matches nothing.
bool VersionHasPrefix(DWORD high, DWORD low, const std::string& prefix);

// What the administrator decided, read from the policy key.
struct CUpdatePolicy {
    bool updatesOff = false;    // items present on the machine are not updated
    bool installsOff = false;   // items absent from it are not installed
    std::string ring;           // "early": in once a release starts; "late": only at 100 %
    std::string pin;            // the version prefix the item stays on; empty = none
};

// The inputs of one item's decision.
struct CRolloutCase {
    std::string item;
    bool present = false;            // one of its files is at its destination
    DWORD versionHigh = 0, versionLow = 0;   // the catalogue's version of the item
    bool hasVersion = false;
    CUpdatePolicy policy;
    CRollout rollout;
    int bucket = 0;
    ULONGLONG now = 0;
};

// Whether the item's files are taken in this run; why says what decided
// (for the log), also when it is taken.
bool RolloutTakesItem(const CRolloutCase& c, std::string& why);
