// The code-signature check's cost per file: CheckSigner on signed test
// components (a plain signature, a renewed certificate, a timestamped one),
// against the SHA-256 of the same file, which every download already pays.
//   signer_bench.exe PINFILE FILE... RUNS
#include "install/SignerCheck.h"
#include "sys/Sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: signer_bench PINFILE FILE... RUNS\n");
        return 2;
    }
    CSignerPin pin;
    std::ifstream(argv[1]) >> pin.spkiSha256;
    const SignerPins pins{pin}, none;
    const int runs = std::max(1, std::atoi(argv[argc - 1]));
    bool allMet = true;
    for (int i = 2; i < argc - 1; ++i) {
        const char* file = argv[i];
        std::vector<double> checks, hashes;
        double first = 0;
        for (int run = 0; run <= runs; ++run) {
            double start = Now();
            if (!CheckSigner(file, pins, none)) {
                std::printf("signer check refused %s: the benchmark's test bed is broken\n", file);
                return 1;
            }
            double took = Now() - start;
            if (run == 0) first = took;   // loads the system's libraries
            else checks.push_back(took);
            start = Now();
            CSha256::OfFile(file);
            hashes.push_back(Now() - start);
        }
        const double check = Median(checks), hash = Median(hashes);
        // The variant's folder and the file's name.
        std::string name = file;
        const size_t last = name.find_last_of("\\/");
        const size_t before = last == std::string::npos || last == 0 ? std::string::npos : name.find_last_of("\\/", last - 1);
        if (before != std::string::npos) name = name.substr(before + 1);
        std::printf("%-30s check %.1f ms (first %.1f ms), SHA-256 of the file %.2f ms, ratio %.1f; goal < 50 ms: %s\n",
                    name.c_str(), check, first, hash, check / hash, check < 50.0 ? "met" : "NOT met");
        allMet = allMet && check < 50.0;
    }
    return allMet ? 0 : 1;
}
