// The result report of one catalogue item after the run acted on it.
#pragma once

#include "catalogue/UpdateSet.h"

// Reports item's outcome ("installed", "held-for-restart", "rolled-back",
// "refused") with its versions, stage and transfers, and the LastError pair
// when it failed (for "refused", of its own failed transfer: an item whose
// transfers only stopped because another failed is not reported). An item
// with no files to install has no result.
void ReportItemResult(const CUpdateSet& item, const char* outcome);
