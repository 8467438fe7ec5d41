// Fuzz target of the archive reader (built natively with libFuzzer, ASan and
// UBSan by `make fuzz`): opens the input as an archive and extracts every
// entry into a scratch folder.
#include "zip/ZipArchive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string base = "/tmp/zelto-fuzz-" + std::to_string(getpid());
    const std::string archive = base + ".zip", folder = base + ".out";
    std::filesystem::remove_all(folder);
    mkdir(folder.c_str(), 0700);
    if (FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    zip::Archive zipFile([](const std::string& path) { return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }, '/');
    if (zipFile.Open(archive) == zip::Result::Ok) {
        for (size_t i = 0; i < zipFile.EntryCount() && i < 64; ++i)
            zipFile.Extract(i, folder, [](const std::string&, uint64_t, uint64_t) { return true; });
    }
    zipFile.Close();
    std::filesystem::remove_all(folder);
    std::remove(archive.c_str());
    return 0;
}
