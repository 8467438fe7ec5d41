#include "base/LastError.h"

#include <cstdio>

thread_local LastErrorPair LastError = {0, 0};

void RecordLastError(DWORD appError, DWORD sysError)
{
    LastError.dwAppError = appError;
    LastError.dwSysError = sysError;
}

std::string LastErrorSuffix()
{
    char text[64];
    std::snprintf(text, sizeof(text), "\r\nErrorCode = %d(%d)",
                  static_cast<int>(LastError.dwAppError), static_cast<int>(LastError.dwSysError));
    return text;
}
