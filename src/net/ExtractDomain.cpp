#include "net/HttpUtil.h"

#include "base/LastError.h"
#include "base/Log.h"

#include <cstring>
#include <vector>

std::string CHttpUtil::ExtractDomainFromURL(const char* url)
{
    if (!url) url = "";
    if (std::strstr(url, "about:")) return url;

    const DWORD kBuffer = 2084;
    std::vector<char> scheme(kBuffer), host(kBuffer), user(kBuffer), password(kBuffer);
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme.data();       parts.dwSchemeLength = kBuffer;
    parts.lpszHostName = host.data();       parts.dwHostNameLength = kBuffer;
    parts.lpszUserName = user.data();       parts.dwUserNameLength = kBuffer;
    parts.lpszPassword = password.data();   parts.dwPasswordLength = kBuffer;
    // The path and the extra information are only pointed at, never copied
    // out: copying a file URL's path, the cracker passes it through a buffer
    // of MAX_PATH characters of its own, which a longer path overruns (seen
    // under Wine, where a SOURCE of "file:" and 300 letters ended the program).
    parts.lpszUrlPath = nullptr;            parts.dwUrlPathLength = 1;
    parts.lpszExtraInfo = nullptr;          parts.dwExtraInfoLength = 1;

    if (!::InternetCrackUrlA(url, static_cast<DWORD>(std::strlen(url)), ICU_ESCAPE, &parts)) {
        DWORD error = ::GetLastError();
        RecordLastError(ERR_CRACK_URL, error);
        WriteLog(1, "[ExtractDomainFromURL] InternetCrackUrl Failed, Error Code = %d", error);
        return std::string();
    }
    return std::string(host.data());
}
