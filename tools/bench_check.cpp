// Benchmark driver for the check of the game folder: "quick" times the start-up check (disk facts and
// plan) of an unchanged folder against a record of it, each of three runs printed; "full" times
// hashing every listed file on the launcher's two threads; "listing" times ways Windows offers to read
// a folder's names, sizes and write times, over the listed folders. The list is read unsigned.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <set>
#include <string>

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

// --- reading folders: each way answers the plain files seen and the sum of their sizes ---------------

struct Listing {
    size_t files;
    uint64_t bytes;
};

std::wstring widePattern(const std::string& folder, const char* tail) {
    std::string path = folder.empty() ? std::string(".") : folder;
    for (char& c : path)
        if (c == '/') c = '\\';
    path += tail;
    WCHAR wide[1024];
    return MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide, 1024) ? std::wstring(wide) : std::wstring();
}

void findFiles(const std::string& folder, FINDEX_INFO_LEVELS level, DWORD flags, Listing* seen) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(widePattern(folder, "\\*").c_str(), level, &found, FindExSearchNameMatch, nullptr, flags);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        ++seen->files;
        seen->bytes += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

HANDLE openFolder(const std::string& folder) {
    return CreateFileW(widePattern(folder, "").c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

enum { kListingBuffer = 256 << 10 };
alignas(8) unsigned char listingBuffer[kListingBuffer];

template <typename Entry>
void walkEntries(const unsigned char* at, Listing* seen) {
    for (;;) {
        const Entry* entry = reinterpret_cast<const Entry*>(at);
        if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ++seen->files;
            seen->bytes += static_cast<uint64_t>(entry->EndOfFile.QuadPart);
        }
        if (entry->NextEntryOffset == 0) return;
        at += entry->NextEntryOffset;
    }
}

template <typename Entry>
void handleFiles(const std::string& folder, FILE_INFO_BY_HANDLE_CLASS first, FILE_INFO_BY_HANDLE_CLASS next, Listing* seen) {
    HANDLE handle = openFolder(folder);
    if (handle == INVALID_HANDLE_VALUE) return;
    for (FILE_INFO_BY_HANDLE_CLASS kind = first; GetFileInformationByHandleEx(handle, kind, listingBuffer, kListingBuffer);
         kind = next)
        walkEntries<Entry>(listingBuffer, seen);
    CloseHandle(handle);
}

typedef LONG(NTAPI* QueryDirectory)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, int, BOOLEAN,
                                    PUNICODE_STRING, BOOLEAN);

void ntFiles(const std::string& folder, Listing* seen) {
    static QueryDirectory query =
        reinterpret_cast<QueryDirectory>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryDirectoryFile")));
    HANDLE handle = openFolder(folder);
    if (handle == INVALID_HANDLE_VALUE || query == nullptr) return;
    IO_STATUS_BLOCK status{};
    for (BOOLEAN restart = TRUE;
         query(handle, nullptr, nullptr, nullptr, &status, listingBuffer, kListingBuffer, 1 /* FileDirectoryInformation */,
               FALSE, nullptr, restart) >= 0;
         restart = FALSE)
        walkEntries<FILE_DIRECTORY_INFORMATION>(listingBuffer, seen);
    CloseHandle(handle);
}

const char* const kListingWays[] = {"find_basic_large", "find_standard", "handle_id_both", "handle_full", "nt_query"};

Listing listFolders(const std::set<std::string>& folders, int way) {
    Listing seen{0, 0};
    for (const std::string& folder : folders) {
        switch (way) {
            case 0: findFiles(folder, FindExInfoBasic, FIND_FIRST_EX_LARGE_FETCH, &seen); break;
            case 1: findFiles(folder, FindExInfoStandard, 0, &seen); break;
            case 2:
                handleFiles<FILE_ID_BOTH_DIR_INFO>(folder, FileIdBothDirectoryRestartInfo, FileIdBothDirectoryInfo, &seen);
                break;
            case 3: handleFiles<FILE_FULL_DIR_INFO>(folder, FileFullDirectoryRestartInfo, FileFullDirectoryInfo, &seen); break;
            default: ntFiles(folder, &seen); break;
        }
    }
    return seen;
}

// Each way three times, interleaved so a busy moment of the machine does not fall on one way only.
int timeListings(const BuildList& list) {
    std::set<std::string> folders;
    for (const BuildFile& file : list.files) {
        const char* slash = strrchr(file.path, '/');
        folders.insert(slash ? std::string(file.path, static_cast<size_t>(slash - file.path)) : std::string());
    }
    const int ways = static_cast<int>(sizeof kListingWays / sizeof kListingWays[0]);
    std::vector<std::vector<double>> times(ways);
    for (int run = 0; run < kQuickRuns; ++run) {
        for (int way = 0; way < ways; ++way) {
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            Listing seen = listFolders(folders, way);
            times[way].push_back(secondsSince(start) * 1000);
            if (seen.files != list.files.size()) {
                fprintf(stderr, "%s saw %zu files of %zu\n", kListingWays[way], seen.files, list.files.size());
                return 1;
            }
        }
    }
    for (int way = 0; way < ways; ++way) {
        std::sort(times[way].begin(), times[way].end());
        printf("listing_ms_%s %.2f\n", kListingWays[way], times[way][kQuickRuns / 2]);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (strcmp(argv[1], "quick") != 0 && strcmp(argv[1], "full") != 0 && strcmp(argv[1], "listing") != 0)) {
        fprintf(stderr, "usage: bench_check quick|full|listing <game folder> <build list>\n");
        return 2;
    }
    std::vector<char> text;
    BuildList list;
    if (!readList(argv[3], &text, &list) || !SetCurrentDirectoryA(argv[2])) return 2;
    if (strcmp(argv[1], "listing") == 0) return timeListings(list);
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
