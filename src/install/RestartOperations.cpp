#include "install/RestartOperations.h"

#include "base/Log.h"
#include "sys/RegKey.h"

#include <vector>

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPending[] = "PendingFileRenameOperations";

std::string Bare(const std::string& text)
{
    std::string bare = text;
    if (!bare.empty() && bare[0] == '!') bare.erase(0, 1);
    if (bare.compare(0, 4, "\\??\\") == 0) bare.erase(0, 4);
    return bare;
}

bool Same(const std::string& a, const std::string& b)
{
    return !a.empty() && !b.empty() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// The texts of the value, empty ones (a deletion's target) too; false when
// there is none.
bool ReadTexts(CRegKey& key, std::vector<std::string>& texts)
{
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key.get(), kPending, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return false;
    std::vector<char> data(size + 2, '\0');
    if (::RegQueryValueExA(key.get(), kPending, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    // A leftover odd text is the list's terminator.
    for (size_t at = 0; at < size;) {
        texts.emplace_back(data.data() + at);
        at += texts.back().size() + 1;
    }
    return true;
}

}  // namespace

bool DropPendingOperations(const std::function<bool(const PendingOperation&)>& drop)
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSessionManager, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) return false;
    std::vector<std::string> texts;
    if (!ReadTexts(key, texts)) return false;
    std::string kept;
    bool changed = false;
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        if (drop({Bare(texts[i]), Bare(texts[i + 1])})) {
            WriteLog(2, "[PendingOperations] taken back: %s -> %s", texts[i].c_str(),
                     texts[i + 1].empty() ? "(deleted)" : texts[i + 1].c_str());
            changed = true;
            continue;
        }
        kept += texts[i] + '\0' + texts[i + 1] + '\0';
    }
    if (!changed) return false;
    if (kept.empty()) {
        key.DeleteValue(kPending);
    } else {
        kept += '\0';
        ::RegSetValueExA(key.get(), kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                         static_cast<DWORD>(kept.size()));
    }
    ::RegFlushKey(key.get());
    return true;
}

void TakeBackPendingOperations(const std::string& path)
{
    std::vector<std::string> waiting;
    DropPendingOperations([&](const PendingOperation& op) {
        const bool ours = Same(op.source, path) || Same(op.target, path);
        if (ours && Same(op.source, path + kRestartSuffix)) waiting.push_back(op.source);
        return ours;
    });
    for (const std::string& file : waiting) {
        ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(file.c_str());
    }
}

bool PendingSourceIn(const std::string& folder)
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSessionManager, KEY_READ) != ERROR_SUCCESS) return false;
    std::vector<std::string> texts;
    if (!ReadTexts(key, texts)) return false;
    const std::string prefix = folder + "\\";
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        const std::string source = Bare(texts[i]);
        if (source.size() > prefix.size() && Same(source.substr(0, prefix.size()), prefix)) return true;
    }
    return false;
}
