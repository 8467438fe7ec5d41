// Access to the local content server from a test program under Wine: its
// runtime repository, its rules file and its request record, all in the
// folder named by ZELTO_CONTENT_STATE (a Unix path, reached through Z:).
#pragma once

#include "TestUtil.h"

#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace testutil {

class ContentServer {
public:
    ContentServer()
    {
        const char* state = std::getenv("ZELTO_CONTENT_STATE");
        m_state = state ? WindowsPathOf(state) : std::string();
    }
    bool Running() const { return !m_state.empty() && FileExists(m_state + "\\port"); }

    // Places a file at http://host/path in the runtime repository.
    void PutFile(const std::string& host, const std::string& path, const std::string& data) const
    {
        std::string full = m_state + "\\www\\" + host + path;
        for (char& c : full) if (c == '/') c = '\\';
        std::string folder = full.substr(0, full.find_last_of('\\'));
        ::SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
        WriteWholeFile(full, data);
    }
    // rules.json: fault injection per "host/path".
    void SetRules(const std::string& json) const
    {
        // Written whole under another name and moved into place, so the
        // server never reads half a file.
        WriteWholeFile(m_state + "\\rules.tmp", json);
        ::MoveFileExA((m_state + "\\rules.tmp").c_str(), (m_state + "\\rules.json").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    void ClearRules() const { SetRules("{}"); }
    void ClearRequests() const { ::DeleteFileA((m_state + "\\requests.jsonl").c_str()); }
    // One JSON text per request, in order.
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> lines;
        std::string all = ReadWholeFile(m_state + "\\requests.jsonl");
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size();
            if (end > start) lines.push_back(all.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
    // The "url" of each recorded request.
    std::vector<std::string> RequestedUrls() const
    {
        std::vector<std::string> urls;
        for (const std::string& line : Requests()) urls.push_back(Field(line, "url"));
        return urls;
    }
    static std::string Field(const std::string& line, const std::string& name)
    {
        std::string key = "\"" + name + "\": \"";
        size_t p = line.find(key);
        if (p == std::string::npos) return std::string();
        p += key.size();
        return line.substr(p, line.find('"', p) - p);
    }

private:
    std::string m_state;
};

}  // namespace testutil
