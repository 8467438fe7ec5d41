// Catalogue benchmark: LoadUpdateList on a catalogue whose FILE entries each
// name their own placed, current, small versioned DLL (REGISTER 0), against
// the floor measured in the same process on the same files: one directory
// search and one version read per file, the least that deciding an entry
// needs.
//
//   catalogue_bench MODE COUNT FOLDER DLL RUNS
//     copies DLL to FOLDER\f00000.dll ... (COUNT files), reads the catalogue
//     of MODE from the content server RUNS times, prints the medians and the ratio
#include "catalogue/UpdateInfoMgr.h"
#include "sys/Util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string FileName(const std::string& folder, int i)
{
    char name[32];
    std::snprintf(name, sizeof(name), "\\f%05d.dll", i);
    return folder + name;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: catalogue_bench MODE COUNT FOLDER DLL RUNS\n");
        return 2;
    }
    const std::string mode = argv[1], folder = argv[3], dll = argv[4];
    const int count = std::atoi(argv[2]), runs = std::max(1, std::atoi(argv[5]));
    CUtil::CreateRecursiveDirectory(folder.c_str());
    for (int i = 0; i < count; ++i)
        if (!::CopyFileA(dll.c_str(), FileName(folder, i).c_str(), FALSE)) {
            std::printf("catalogue_bench: cannot copy %s (%lu)\n", dll.c_str(), ::GetLastError());
            return 1;
        }

    std::vector<double> load, floor;
    for (int run = 0; run < runs; ++run) {
        CUpdateInfoMgr::DeleteInstance();
        CUpdateInfoMgr* manager = CUpdateInfoMgr::GetInstance();
        const std::string document = "<PARAM><MODE>" + mode + "</MODE><SOURCE>http://down.zelto.com/</SOURCE></PARAM>";
        if (!manager->ParseXMLArgument(document.c_str())) return 1;
        double start = Now();
        BOOL ok = manager->LoadUpdateList();
        load.push_back(Now() - start);
        size_t needed = 0;
        for (const auto& item : manager->Items()) needed += item->m_arrUpdateFile.size();
        if (!ok || manager->Items().size() != 1 || needed != 0) {
            std::printf("catalogue_bench: the catalogue of %s was not read as expected (ok %d, %zu files to install)\n",
                        mode.c_str(), ok, needed);
            return 1;
        }

        start = Now();
        for (int i = 0; i < count; ++i) {
            const std::string path = FileName(folder, i);
            WIN32_FIND_DATAA found;
            HANDLE find = ::FindFirstFileA(path.c_str(), &found);
            if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
            DWORD high = 0, low = 0;
            CUtil::GetFileVersion(path.c_str(), &high, &low);
        }
        floor.push_back(Now() - start);
    }
    CUpdateInfoMgr::DeleteInstance();
    const double l = Median(load), f = Median(floor);
    std::printf("%d entries: LoadUpdateList %.3f s (%.2f ms an entry), floor %.3f s (%.2f ms an entry), ratio %.2f "
                "(target: at most 1.25)\n",
                count, l, l * 1000 / count, f, f * 1000 / count, l / f);
    return 0;
}
