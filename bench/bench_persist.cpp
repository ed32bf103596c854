// Figures for the INI store and the language tables: how long one read and parse of
// each language file takes, how many settings files are parsed per second, and what
// one labelling-sized pass of look-ups and one atomic save cost.
// Usage: bench_persist [directory with English.dat and Chinese.dat]
// (default: VX52_BIN_DIR, else beside this program or in ../bin).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "persist/IniStore.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "power/PowerRecords.h"

namespace {

using Clock = std::chrono::steady_clock;

// Median of runs timings of fn, in microseconds.
template <typename Fn> double MedianMicros(int runs, Fn fn) {
    std::vector<double> times;
    times.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        fn();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool ParseFile(const char* path) {
    IniStore* store = Ini_New(0);
    int status = Ini_ReadFromFile(store, path);
    Ini_Dispose(store);
    return status >= 0;
}

const int kLanguageItems[] = {1,   2,   5,   6,   7,   8,   9,   22,  31,  32,  33,
                              34,  35,  37,  38,  46,  47,  56,  57,  175, 176, 178,
                              179, 181, 182, 183, 184, 189, 190, 196, 198, 199, 299};

} // namespace

int main(int argc, char* argv[]) {
    std::string dir;
    if (argc > 1) {
        dir = argv[1];
    } else if (const char* env = std::getenv("VX52_BIN_DIR")) {
        dir = env;
    } else {
        // Beside the program, or in the build tree's bin folder next to bench/.
        auto here = std::filesystem::canonical("/proc/self/exe").parent_path();
        dir = std::filesystem::exists(here / "English.dat") ? here.string()
                                                            : (here.parent_path() / "bin").string();
    }
    if (chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "cannot enter %s\n", dir.c_str());
        return 1;
    }
    for (const char* name : {"English.dat", "Chinese.dat"}) {
        if (!ParseFile(name)) {
            std::fprintf(stderr, "cannot read %s/%s\n", dir.c_str(), name);
            return 1;
        }
    }

    constexpr int kRuns = 2000;
    std::printf("INI store and language tables (median of %d runs)\n", kRuns);
    for (const char* name : {"English.dat", "Chinese.dat"}) {
        double us = MedianMicros(kRuns, [&] { ParseFile(name); });
        std::printf("  read + parse %-12s %8.1f us  (%zu bytes)\n", name, us,
                    static_cast<size_t>(std::filesystem::file_size(name)));
    }
    for (int language : {1, 0}) {
        char text[256];
        double us = MedianMicros(kRuns, [&] {
            OpenLanguage(language);
            for (int item : kLanguageItems) {
                ReadItem(item, text);
            }
            CloseLanguage();
        });
        std::printf("  open + %zu look-ups, %-7s %8.1f us\n", std::size(kLanguageItems),
                    language == 1 ? "English" : "Chinese", us);
    }

    // Settings files in a scratch folder.
    std::string pattern = (std::filesystem::temp_directory_path() / "vx52bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        return 1;
    }
    PowerRecordsReset();
    Data52PCheck();
    FileWriteNormal52P("bench.52P");

    constexpr int kBatch = 20000;
    auto start = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
        ParseFile("bench.52P");
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("  settings files parsed per second  %8.0f\n", kBatch / seconds);

    double readUs = MedianMicros(kRuns, [] { FileReadNormal52P("bench.52P"); });
    std::printf("  FileReadNormal52P                 %8.1f us\n", readUs);
    double writeUs = MedianMicros(200, [] { FileWriteNormal52P("bench.52P"); });
    std::printf("  FileWriteNormal52P (synced save)  %8.1f us  (median of 200)\n", writeUs);

    std::filesystem::remove_all(pattern);
    return 0;
}
