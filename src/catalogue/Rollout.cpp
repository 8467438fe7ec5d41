#include "catalogue/Rollout.h"

#include "catalogue/CatalogueFreshness.h"
#include "sys/Sha256.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr ULONGLONG kHour = 36000000000ULL;   // in 100 ns

std::string StageText(int hundredths)
{
    char text[32];
    if (hundredths % 100 == 0) std::snprintf(text, sizeof(text), "%d%%", hundredths / 100);
    else std::snprintf(text, sizeof(text), "%d.%02d%%", hundredths / 100, hundredths % 100);
    return text;
}

}  // namespace

bool ParseRamp(const std::string& text, std::vector<std::pair<ULONGLONG, int>>& ramp)
{
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string step = text.substr(at, comma - at);
        const size_t colon = step.find(':');
        if (colon == std::string::npos || colon + 1 >= step.size() || step.size() - colon - 1 > 5) return false;
        const int percent = ParsePercent(step.substr(0, colon));
        ULONGLONG hours = 0;
        for (size_t i = colon + 1; i < step.size(); ++i) {
            if (step[i] < '0' || step[i] > '9') return false;
            hours = hours * 10 + static_cast<ULONGLONG>(step[i] - '0');
        }
        if (percent < 0) return false;
        if (!ramp.empty() && (hours * kHour <= ramp.back().first || percent < ramp.back().second)) return false;
        ramp.emplace_back(hours * kHour, percent);
        if (ramp.size() > 32) return false;
        at = comma + 1;
    }
    return !ramp.empty();
}

namespace {

bool ReadTime(const pugi::xml_node& node, const char* name, ULONGLONG& value, std::string& why)
{
    pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) return true;
    if (ParseUtcTime(attribute.value(), value)) return true;
    why = std::string(name) + " \"" + std::string(attribute.value()).substr(0, 40) + "\" is no UTC time";
    return false;
}

}  // namespace

int ParsePercent(const std::string& text)
{
    int whole = 0, fraction = 0, digits = 0, decimals = -1;
    for (char c : text) {
        if (c == '.' && decimals < 0 && digits > 0) {
            decimals = 0;
            continue;
        }
        if (c < '0' || c > '9') return -1;
        // At most three digits before the point and two after it: "100.0"
        // is a percentage as much as "99.5".
        if (decimals < 0) {
            if (digits >= 3) return -1;
            whole = whole * 10 + (c - '0');
            ++digits;
        } else {
            if (decimals >= 2) return -1;
            fraction = fraction * 10 + (c - '0');
            ++decimals;
        }
    }
    if (digits == 0 || decimals == 0) return -1;
    if (decimals == 1) fraction *= 10;
    const int value = whole * 100 + (decimals > 0 ? fraction : 0);
    return value <= kFullStage ? value : -1;
}

CRollout ReadRollout(const pugi::xml_node& item)
{
    CRollout rollout;
    pugi::xml_node node = item.child("ROLLOUT");
    if (!node) return rollout;
    rollout.present = true;
    rollout.salt = node.attribute("SALT").value();
    rollout.critical = std::strcmp(node.attribute("CRITICAL").value(), "1") == 0;
    rollout.stageFirstInstalls = std::strcmp(node.attribute("FIRST").value(), "staged") == 0;
    if (!ReadTime(node, "START", rollout.start, rollout.why) || !ReadTime(node, "HALTED", rollout.halted, rollout.why))
        return rollout;
    if (rollout.salt.empty() || rollout.salt.size() > 64) {
        rollout.why = "no SALT";
        return rollout;
    }
    if (pugi::xml_attribute percent = node.attribute("PERCENT")) {
        rollout.percent = ParsePercent(percent.value());
        if (rollout.percent < 0) {
            rollout.why = "PERCENT \"" + std::string(percent.value()).substr(0, 40) + "\" is no percentage";
            return rollout;
        }
    }
    if (pugi::xml_attribute ramp = node.attribute("RAMP")) {
        if (rollout.percent >= 0) {
            rollout.why = "both PERCENT and RAMP";
            return rollout;
        }
        if (!ParseRamp(ramp.value(), rollout.ramp)) {
            rollout.why = "RAMP \"" + std::string(ramp.value()).substr(0, 80) + "\" is no rising list of percent:hours";
            return rollout;
        }
    }
    if ((rollout.percent >= 0 || !rollout.ramp.empty()) && rollout.start == 0) {
        rollout.why = "a stage without START";
        return rollout;
    }
    rollout.valid = true;
    return rollout;
}

int StageAt(const CRollout& rollout, ULONGLONG now)
{
    if (rollout.critical) return kFullStage;
    if (rollout.percent < 0 && rollout.ramp.empty()) return kFullStage;
    const ULONGLONG at = rollout.halted != 0 && rollout.halted < now ? rollout.halted : now;
    if (at < rollout.start) return 0;
    if (rollout.percent >= 0) return rollout.percent;
    int stage = 0;
    for (const auto& step : rollout.ramp)
        if (at - rollout.start >= step.first) stage = step.second;
    return stage;
}

int RolloutBucket(const std::string& installId, const std::string& item, const std::string& salt)
{
    const std::string text = installId + "|" + item + "|" + salt;
    CSha256 hash;
    const std::string digest = hash.Update(text.data(), static_cast<DWORD>(text.size())) ? hash.HexDigest() : "";
    if (digest.size() < 16) return kFullStage - 1;   // no hash: the last machine of every stage
    const unsigned long long value = std::strtoull(digest.substr(0, 16).c_str(), nullptr, 16);
    return static_cast<int>(value % kFullStage);
}

bool VersionHasPrefix(DWORD high, DWORD low, const std::string& prefix)
{
    const DWORD parts[4] = {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
    size_t at = 0;
    int index = 0;
    while (at < prefix.size()) {
        if (index == 4) return false;
        size_t dot = prefix.find('.', at);
        if (dot == std::string::npos) dot = prefix.size();
        if (dot == at || dot - at > 5) return false;
        DWORD value = 0;
        for (size_t i = at; i < dot; ++i) {
            if (prefix[i] < '0' || prefix[i] > '9') return false;
            value = value * 10 + static_cast<DWORD>(prefix[i] - '0');
        }
        if (value != parts[index++]) return false;
        at = dot + 1;
        if (dot + 1 == prefix.size()) return false;   // "1.2." is no prefix
    }
    return index > 0;
}

bool RolloutTakesItem(const CRolloutCase& c, std::string& why)
{
    const CUpdatePolicy& policy = c.policy;
    if (!c.present && policy.installsOff) {
        why = "held by policy DisableInstalls: the item is not on this machine";
        return false;
    }
    if (c.present && policy.updatesOff) {
        why = "held by policy DisableUpdates";
        return false;
    }
    if (!policy.pin.empty() && (!c.hasVersion || !VersionHasPrefix(c.versionHigh, c.versionLow, policy.pin))) {
        char version[64];
        std::snprintf(version, sizeof(version), "%lu.%lu.%lu.%lu", c.versionHigh >> 16, c.versionHigh & 0xFFFF,
                      c.versionLow >> 16, c.versionLow & 0xFFFF);
        why = "held by policy PinnedVersions: " + (c.hasVersion ? std::string(version) : std::string("no version")) +
              " is not on " + policy.pin;
        return false;
    }
    const CRollout& rollout = c.rollout;
    if (!rollout.present) {
        why = "no rollout";
        return true;
    }
    if (!rollout.valid) {
        why = "held: its ROLLOUT cannot be read (" + rollout.why + ")";
        return false;
    }
    if (rollout.critical) {
        why = "critical: every machine at once";
        return true;
    }
    if (!c.present && !rollout.stageFirstInstalls) {
        why = "a first install, not staged";
        return true;
    }
    const int stage = StageAt(rollout, c.now);
    const std::string stageText = "stage " + StageText(stage) + (rollout.halted ? " (halted)" : "");
    // Ring early takes a release as soon as it starts, ahead of its stage,
    // unless the release is halted (then every ring keeps to the stage it was
    // frozen at) or stands at 0 %.
    const bool halted = rollout.halted != 0 && rollout.halted <= c.now;
    if (policy.ring == "early" && !halted) {
        const bool started = c.now >= rollout.start && stage > 0;
        why = std::string(started ? "taken" : "held") + " by policy Ring early, " +
              (started ? "the release has started" : c.now < rollout.start ? "before the release's start" : "stage 0%");
        return started;
    }
    if (policy.ring == "late") {
        why = std::string(stage == kFullStage ? "taken" : "held") + " by policy Ring late, " + stageText;
        return stage == kFullStage;
    }
    char text[96];
    std::snprintf(text, sizeof(text), "bucket %d %s ", c.bucket, c.bucket < stage ? "within" : "outside");
    why = std::string(c.bucket < stage ? "" : "held: ") + text + stageText;
    return c.bucket < stage;
}
