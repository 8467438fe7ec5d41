// How the run was asked to behave by its command line, for every layer: a
// quiet run shows no window and asks nobody; a verifying run also checks the
// bytes of present files against their SHA256.
#pragma once

void SetQuietRun(bool quiet);
bool IsQuietRun();

void SetVerifyRun(bool verify);
bool IsVerifyRun();
