#include "base/RunMode.h"

namespace {

bool g_quiet = false;
bool g_verify = false;

}  // namespace

void SetQuietRun(bool quiet) { g_quiet = quiet; }
bool IsQuietRun() { return g_quiet; }

void SetVerifyRun(bool verify) { g_verify = verify; }
bool IsVerifyRun() { return g_verify; }
