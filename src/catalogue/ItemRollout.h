// The staged-release decision for one catalogue item, before its files and
// registry elements are read.
#pragma once

#include <pugixml.hpp>

#include <string>

// True when the item's new files are to wait on this machine (its ROLLOUT
// stage, or a policy): the caller then reads none of its files and applies
// none of its registry elements, as for an item that is current. stage: the
// item's stage in hundredths of a percent, -1 when it has no ROLLOUT.
// installed: whether the item is on this machine (IsItemInstalled), which
// decides between an update and a first install. Logs what decided whenever
// a ROLLOUT or a policy had a say.
bool RolloutHoldsItem(const pugi::xml_node& item, const std::string& name, bool installed, int& stage);
