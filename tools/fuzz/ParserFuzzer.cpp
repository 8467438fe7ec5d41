// Fuzzes the readers of what the network brings, in the program's own code
// under Wine: the catalogue (through the item reader, the download trust rule
// and the path macros that follow, and the root's binding attributes), the
// trust rule on URLs, the signature file, the options document and the
// parameter document.
//
//   zelto_fuzz.exe TARGET SECONDS ARTIFACTS CORPUS [SEED...]
//
// A small coverage-guided mutator: the readers and pugixml are compiled with
// -fsanitize-coverage=trace-pc, an input that reaches a new edge joins the
// corpus (and is saved in CORPUS). A crash, an exception or an input that
// runs longer than 10 s (the hang detector) is saved in ARTIFACTS and ends
// the run with exit code 2 (3 for a hang). Runs only in a Wine prefix of its
// own, from its C: drive, with no drive that reaches the host (tools/fuzz.sh):
// catalogue registry elements and destination folders act on the prefix.
#include "catalogue/CatalogueFreshness.h"
#include "catalogue/CatalogueSignature.h"
#include "catalogue/UpdateInfoMgr.h"
#include "catalogue/UpdateSet.h"
#include "net/HttpUtil.h"
#include "sys/Util.h"

#include <ZeltoConfig.h>

#include <windows.h>

#include <pugixml.hpp>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Edge coverage: the last block's address and this one's, hashed.
constexpr size_t kMapSize = 1 << 16;
uint8_t g_edges[kMapSize];
uintptr_t g_previous = 0;

}  // namespace

extern "C" void __sanitizer_cov_trace_pc()
{
    const uintptr_t pc = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
    g_edges[(pc ^ g_previous) & (kMapSize - 1)] = 1;
    g_previous = pc >> 1;
}

namespace {

std::string g_input;                 // the input being run, for the crash and hang reports
std::string g_artifacts, g_target;
std::atomic<ULONGLONG> g_started{0};  // when the running input began, 0 between inputs

void SaveArtifact(const char* kind)
{
    const std::string path = g_artifacts + "\\" + kind + "-" + g_target + ".bin";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(g_input.data(), 1, g_input.size(), f);
        std::fclose(f);
    }
    std::printf("fuzz %s: %s, input (%u bytes) saved as %s\n", g_target.c_str(), kind,
                static_cast<unsigned>(g_input.size()), path.c_str());
    std::fflush(stdout);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info)
{
    std::printf("fuzz %s: exception 0x%08lX at %p\n", g_target.c_str(), info->ExceptionRecord->ExceptionCode,
                info->ExceptionRecord->ExceptionAddress);
    SaveArtifact("crash");
    ::TerminateProcess(::GetCurrentProcess(), 2);
    return EXCEPTION_EXECUTE_HANDLER;
}

// ---- the targets -----------------------------------------------------------

const char kParam[] = "<PARAM><MODE>zeltosetup</MODE>"
                      "<SOURCE>http://down.zelto.com/zelto/zeltosetup/Repository/</SOURCE></PARAM>";

void CheckUrl(const std::string& url)
{
    if (url.empty()) return;
    const BOOL trusted = CHttpUtil::CheckDownloadURL(url.c_str(), TRUSTED_DOMAIN_SUFFIX, TRUSTED_PATH_PREFIX);
    // Whatever else the rule weighs, only http and https are ever trusted.
    if (trusted && _strnicmp(url.c_str(), "http://", 7) != 0 && _strnicmp(url.c_str(), "https://", 8) != 0) {
        std::printf("fuzz: trusted a URL of another scheme: %s\n", url.c_str());
        SaveArtifact("wrong");
        ::TerminateProcess(::GetCurrentProcess(), 2);
    }
}

void FuzzCatalogue(const std::string& data)
{
    CUpdateInfoMgr::DeleteInstance();
    CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
    manager->ParseXMLArgument(kParam);
    if (manager->CreateUpdateList(data)) {
        for (const auto& item : manager->Items())
            for (const auto& file : item->m_arrUpdateFile) {
                CheckUrl(file->m_szSource);
                CheckUrl(file->m_szRunSource);
                (void)StatedDownloadSize(*file);
            }
    }
    // The binding a signed catalogue's root carries.
    pugi::xml_document doc;
    if (doc.load_buffer(data.data(), data.size(), pugi::parse_default, pugi::encoding_utf8)) {
        std::string why;
        JudgeCatalogueBinding(ReadCatalogueBinding(doc.document_element()), "zeltosetup", true, 20260101000000ULL,
                              133000000000000000ULL, why);
    }
    CUpdateInfoMgr::DeleteInstance();
}

void FuzzTrust(const std::string& data)
{
    CheckUrl(std::string(data.c_str()));   // up to the first NUL, as a catalogue text would be
}

std::vector<std::string> g_keys;

void FuzzSignature(const std::string& data)
{
    static const std::string catalogue = "<ZELTOOMBRIX><UPDATELIST/></ZELTOOMBRIX>\n";
    std::string why;
    unsigned long error = 0;
    VerifyCatalogueSignature(catalogue, data, g_keys, why, error);
}

void FuzzOptions(const std::string& data)
{
    BYTE a = 1, b = 1;
    CHttpUtil::ReadInstallOption(data, &a, &b);
}

void FuzzParam(const std::string& data)
{
    CUpdateInfoMgr::DeleteInstance();
    CUpdateInfoMgr::GetInstance()->ParseXMLArgument(std::string(data.c_str()).c_str());
    CUpdateInfoMgr::DeleteInstance();
}

struct Target {
    void (*run)(const std::string&);
    size_t maxLength;
    std::vector<std::string> dictionary;
};

const std::map<std::string, Target>& Targets()
{
    static const std::vector<std::string> xml = {"<", ">", "</", "/>", "=\"", "\"", "<?xml version=\"1.0\"?>",
                                                 "<!DOCTYPE a [<!ENTITY e \"x\">]>", "&e;", "&amp;", "&#x41;",
                                                 "&#65;", "<![CDATA[", "]]>", "<!--", "-->", "encoding=\"euc-kr\""};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.end(), xml.begin(), xml.end());
        return more;
    };
    static const std::map<std::string, Target> targets = {
        {"catalogue", {&FuzzCatalogue, 16384,
                       with({"<UPDATEITEM NAME=\"", "<FILE NAME=\"", "<MODE NAME=\"zeltosetup\"/>", "<SOURCE>",
                             "<DEST>", "[PROGRAMS]", "[SYSTEM]", "[DOWNLOADED]", "%SYSTEMROOT%", "<FILESIZE>",
                             "<ARCHIVESIZE>", "<SHA256>", "<RUNFILE NAME=\"", "<RUNSOURCE>", "<RUNDEST>",
                             "<ADDREG TYPE=\"dword\">", "<DELREG>", "<ROOT>HKCU</ROOT>", "<KEY>", "<VALUE_NAME>",
                             "<VERSION>", "<FILETIME>", "SERIAL=\"", "MODE=\"", "EXPIRES=\"", ".zip",
                             "http://down.zelto.com/zelto/zeltosetup/", "..\\", "4294967295", "-1"})}},
        {"trust", {&FuzzTrust, 2048,
                   {"http://", "https://", "down.zelto.com", ".zelto.com", "/zelto/zeltosetup/", "%2e", "%2f",
                    "%5c", "%00", "@", ":", "\\", "..", "?", "#", ":8080", "[::1]", "%25", "HTTP://"}}},
        {"signature", {&FuzzSignature, 4096, {"\r\n", "=", "==", "-----BEGIN", "+", "/", " "}}},
        {"options", {&FuzzOptions, 16384,
                     with({"<OmbrixConf>", "</OmbrixConf>", "<showUpdateWindow>", "</showUpdateWindow>",
                           "<showStartPageAndSearch>", "false", "true"})}},
        {"param", {&FuzzParam, 8192,
                   with({"<PARAM>", "<MODE>", "<SOURCE>", "<FORCEDELETE>", "<SHOWDLG>", "<SERVICENAME>",
                         "http://down.zelto.com/", "..", "-2147483648"})}},
    };
    return targets;
}

// ---- the mutator -----------------------------------------------------------

class Mutator {
public:
    Mutator(const Target& target, unsigned seed) : m_target(target), m_random(seed) {}

    std::string Mutate(const std::vector<std::string>& corpus)
    {
        std::string data = corpus[Pick(corpus.size())];
        const int steps = 1 + static_cast<int>(Pick(6));
        for (int i = 0; i < steps; ++i) Step(data, corpus);
        if (data.size() > m_target.maxLength) data.resize(m_target.maxLength);
        return data;
    }

private:
    size_t Pick(size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(m_random) : 0; }
    char Byte()
    {
        static const char interesting[] = {0, 1, '\x7f', '\x80', '\xff', '<', '>', '"', '&', '%', '\\', '/', '.', ':'};
        return Pick(2) ? static_cast<char>(Pick(256)) : interesting[Pick(sizeof(interesting))];
    }
    void Step(std::string& data, const std::vector<std::string>& corpus)
    {
        switch (Pick(8)) {
        case 0:   // flip a bit
            if (!data.empty()) data[Pick(data.size())] ^= static_cast<char>(1 << Pick(8));
            break;
        case 1:   // set a byte
            if (!data.empty()) data[Pick(data.size())] = Byte();
            break;
        case 2:   // insert bytes
            data.insert(Pick(data.size() + 1), 1 + Pick(4), Byte());
            break;
        case 3:   // delete a range
            if (!data.empty()) {
                size_t at = Pick(data.size());
                data.erase(at, 1 + Pick(std::min<size_t>(64, data.size() - at)));
            }
            break;
        case 4:   // copy a range elsewhere
            if (!data.empty()) {
                size_t at = Pick(data.size()), length = 1 + Pick(std::min<size_t>(256, data.size() - at));
                data.insert(Pick(data.size() + 1), data.substr(at, length));
            }
            break;
        case 5:   // splice with another input
        {
            const std::string& other = corpus[Pick(corpus.size())];
            data = data.substr(0, Pick(data.size() + 1)) + other.substr(Pick(other.size() + 1));
            break;
        }
        default:   // a token of the format
            if (!m_target.dictionary.empty()) {
                const std::string& token = m_target.dictionary[Pick(m_target.dictionary.size())];
                size_t at = Pick(data.size() + 1);
                if (Pick(2) && at < data.size()) data.replace(at, std::min(token.size(), data.size() - at), token);
                else data.insert(at, token);
            }
            break;
        }
    }

    const Target& m_target;
    std::mt19937 m_random;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Runs one input; true when it reached an edge no earlier input did.
bool RunOne(const Target& target, const std::string& data, std::vector<uint8_t>& seen, size_t& edges)
{
    g_input = data;
    std::memset(g_edges, 0, sizeof(g_edges));
    g_previous = 0;
    g_started = ::GetTickCount64();
    try {
        target.run(data);
    } catch (const std::exception& e) {
        std::printf("fuzz %s: exception %s\n", g_target.c_str(), e.what());
        SaveArtifact("crash");
        ::TerminateProcess(::GetCurrentProcess(), 2);
    }
    g_started = 0;
    bool fresh = false;
    for (size_t i = 0; i < kMapSize; ++i)
        if (g_edges[i] && !seen[i]) {
            seen[i] = 1;
            ++edges;
            fresh = true;
        }
    return fresh;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || !Targets().count(argv[1])) {
        std::fprintf(stderr, "usage: zelto_fuzz TARGET SECONDS ARTIFACTS CORPUS [SEED...]\n"
                             "targets: catalogue trust signature options param\n");
        return 1;
    }
    g_target = argv[1];
    const ULONGLONG seconds = std::strtoull(argv[2], nullptr, 10);
    g_artifacts = argv[3];
    const std::string corpusFolder = argv[4];
    const Target& target = Targets().at(g_target);
    ::SetUnhandledExceptionFilter(&OnCrash);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    CUtil::InitSystemFolders();
    if (g_target == "signature") {
        const char* key = std::getenv("ZELTO_FUZZ_KEY");
        if (key) g_keys.push_back(ReadFile(key));
    }

    // The seeds, then what earlier runs kept.
    std::vector<std::string> corpus;
    for (int i = 5; i < argc; ++i) corpus.push_back(ReadFile(argv[i]));
    WIN32_FIND_DATAA found;
    HANDLE find = ::FindFirstFileA((corpusFolder + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                corpus.push_back(ReadFile(corpusFolder + "\\" + found.cFileName));
        } while (::FindNextFileA(find, &found));
        ::FindClose(find);
    }
    if (corpus.empty()) corpus.push_back(std::string());

    // The hang detector: one input may run 10 s.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done) {
            ::Sleep(200);
            const ULONGLONG started = g_started;
            if (started && ::GetTickCount64() - started > 10000) {
                SaveArtifact("hang");
                ::TerminateProcess(::GetCurrentProcess(), 3);
            }
        }
    });

    std::vector<uint8_t> seen(kMapSize, 0);
    size_t edges = 0, added = 0;
    unsigned long long runs = 0;
    ULONGLONG slowest = 0;
    for (const std::string& seed : std::vector<std::string>(corpus)) {
        RunOne(target, seed, seen, edges);
        ++runs;
    }
    const size_t seeds = corpus.size();
    Mutator mutator(target, static_cast<unsigned>(::GetTickCount()));
    const ULONGLONG start = ::GetTickCount64();
    while (::GetTickCount64() - start < seconds * 1000) {
        std::string data = mutator.Mutate(corpus);
        const ULONGLONG before = ::GetTickCount64();
        const bool fresh = RunOne(target, data, seen, edges);
        slowest = std::max(slowest, ::GetTickCount64() - before);
        ++runs;
        if (fresh) {
            corpus.push_back(data);
            ++added;
            char name[64];
            std::snprintf(name, sizeof(name), "\\%08llx-%llu", static_cast<unsigned long long>(start), runs);
            if (FILE* f = std::fopen((corpusFolder + name).c_str(), "wb")) {
                std::fwrite(data.data(), 1, data.size(), f);
                std::fclose(f);
            }
        }
    }
    done = true;
    watchdog.join();
    const double elapsed = static_cast<double>(::GetTickCount64() - start) / 1000.0;
    std::printf("fuzz %s: %llu runs in %.0f s (%.0f/s), %zu edges, corpus %zu (%zu seeds and kept, %zu new), "
                "slowest input %llu ms, no crash, no hang\n",
                g_target.c_str(), runs, elapsed, elapsed > 0 ? static_cast<double>(runs) / elapsed : 0.0, edges,
                corpus.size(), seeds, added, static_cast<unsigned long long>(slowest));
    return 0;
}
