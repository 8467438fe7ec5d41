#include "catalogue/ItemRollout.h"

#include "catalogue/CatalogueValues.h"
#include "catalogue/Rollout.h"
#include "catalogue/RolloutMachine.h"

#include "base/Log.h"
#include "sys/Util.h"

#include <cstring>

namespace {

// The item's version: its main file's VERSION, else its first file's.
bool ItemVersion(const pugi::xml_node& item, DWORD& high, DWORD& low)
{
    bool found = false;
    for (pugi::xml_node file = item.child("FILE"); file; file = file.next_sibling("FILE")) {
        std::string text;
        if (!catalogue::ChildText(file, "VERSION", text)) continue;
        const bool main = catalogue::Flag(file, "MAINFILE") == 1;
        if (!found || main) catalogue::VersionList(text, high, low);
        found = true;
        if (main) break;
    }
    return found;
}

bool HasPolicy(const CUpdatePolicy& policy)
{
    return policy.updatesOff || policy.installsOff || !policy.ring.empty() || !policy.pin.empty();
}

}  // namespace

bool RolloutHoldsItem(const pugi::xml_node& item, const std::string& name, bool installed, int& stage)
{
    CRolloutCase c;
    c.item = name;
    c.rollout = ReadRollout(item);
    c.policy = ReadUpdatePolicy(name);
    stage = -1;
    if (!c.rollout.present && !HasPolicy(c.policy)) return false;

    c.present = installed;
    c.hasVersion = ItemVersion(item, c.versionHigh, c.versionLow);
    c.now = RolloutNow();
    if (c.rollout.present && c.rollout.valid) {
        stage = StageAt(c.rollout, c.now);
        // The id is made only once a catalogue stages something.
        static const std::string installId = MachineInstallId();
        c.bucket = installId.empty() ? kFullStage - 1 : RolloutBucket(installId, name, c.rollout.salt);
    }
    std::string why;
    const bool takes = RolloutTakesItem(c, why);
    WriteLog(takes ? 2 : 1, "[CreateUpdateList] %s %s: %s", takes ? "Rollout takes" : "Rollout holds", name.c_str(),
             why.c_str());
    return !takes;
}
