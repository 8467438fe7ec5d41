#include "sys/Platform.h"

bool GetVersionFacts(DWORD& platformId, DWORD& majorVersion)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExA(&info)) return false;
    platformId = info.dwPlatformId;
    majorVersion = info.dwMajorVersion;
    return true;
}

BOOL IsVistaOrLater(DWORD platformId, DWORD majorVersion)
{
    return platformId == VER_PLATFORM_WIN32_NT && majorVersion > 5;
}

BOOL IsVistaOrLater()
{
    DWORD platformId = 0, majorVersion = 0;
    return GetVersionFacts(platformId, majorVersion) && IsVistaOrLater(platformId, majorVersion);
}
