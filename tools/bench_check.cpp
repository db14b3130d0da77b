// Benchmark driver for the check of the game folder: "quick" times the start-up check (disk facts and
// plan) of an unchanged folder against a record of it, each of three runs printed; "full" times
// hashing every listed file on the launcher's two threads. The list is read unsigned.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/build_list.h"
#include "formats/repair_plan.h"
#include "repair/game_check.h"

namespace {

enum { kQuickRuns = 3 };

bool readList(const char* path, std::vector<char>* text, BuildList* list) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    char chunk[65536];
    for (size_t count; (count = fread(chunk, 1, sizeof chunk, file)) > 0;) text->insert(text->end(), chunk, chunk + count);
    fclose(file);
    return parseBuildList(text->data(), text->size(), list, IndexSignature::Optional);
}

double secondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Hashes everything once; answers how many files were not the listed bytes, and fills the record.
size_t fullCheck(const BuildList& list, VerifyRecord* record, double* seconds, uint64_t* bytes) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    std::vector<DiskFile> disk = gatherDiskFacts(list);
    CheckPlan plan;
    if (!planBuildCheck(list, VerifyRecord{}, disk, CheckDepth::Full, &plan)) return list.files.size();
    std::vector<char> right = hashPlannedFiles(list, plan);
    *seconds = secondsSince(start);
    *bytes = plan.hashBytes;
    size_t wrong = 0;
    for (size_t i = 0; i < list.files.size(); ++i) {
        if (right[i])
            record->files.push_back(verifiedFileOf(list.files[i], disk[i]));
        else
            ++wrong;
    }
    return wrong;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (strcmp(argv[1], "quick") != 0 && strcmp(argv[1], "full") != 0)) {
        fprintf(stderr, "usage: bench_check quick|full <game folder> <build list>\n");
        return 2;
    }
    std::vector<char> text;
    BuildList list;
    if (!readList(argv[3], &text, &list) || !SetCurrentDirectoryA(argv[2])) return 2;
    VerifyRecord record;
    double seconds = 0;
    uint64_t bytes = 0;
    size_t wrong = fullCheck(list, &record, &seconds, &bytes);
    printf("files %zu\nwrong %zu\nfull_seconds %.4f\nfull_bytes %llu\n", list.files.size(), wrong, seconds,
           static_cast<unsigned long long>(bytes));
    if (strcmp(argv[1], "full") == 0) return wrong == 0 ? 0 : 1;
    for (int run = 0; run < kQuickRuns; ++run) {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        CheckPlan plan;
        std::vector<DiskFile> disk = gatherDiskFacts(list);
        double gathered = secondsSince(start);
        bool planned = planBuildCheck(list, record, disk, CheckDepth::Quick, &plan);
        double elapsed = secondsSince(start);
        printf("quick_ms_%d %.2f\ngather_ms_%d %.2f\nquick_work_%d %zu\n", run, elapsed * 1000, run, gathered * 1000,
               run, planned ? plan.hashCount + plan.fetchCount : list.files.size());
    }
    return 0;
}
