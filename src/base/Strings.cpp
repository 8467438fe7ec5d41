#include "base/Strings.h"

#include "base/Log.h"
#include "base/RunMode.h"

#include "resource.h"

std::string LoadResString(UINT id)
{
    char text[4096];
    int n = ::LoadStringA(::GetModuleHandleA(nullptr), id, text, sizeof(text));
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

int ShowMessage(UINT textId, const std::string& suffix, HWND owner)
{
    std::string text = LoadResString(textId) + suffix;
    std::string title = LoadResString(IDS_APP_TITLE);
    if (IsQuietRun()) {
        // Nobody is watching: what the user would have read goes to the log.
        for (char& c : text)
            if (c == '\r' || c == '\n') c = ' ';
        WriteLog(1, "[ShowMessage] %s", text.c_str());
        return IDOK;
    }
    return ::MessageBoxA(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
}
