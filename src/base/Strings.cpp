#include "base/Strings.h"

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
    return ::MessageBoxA(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
}
