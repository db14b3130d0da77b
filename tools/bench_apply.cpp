// Benchmark driver: applies one payload with the launcher's applyDeltaPayload and prints the seconds it
// took (hash included), the output size, and the process's peak memory as Windows counts it; then the
// seconds CNG takes to hash the rebuilt file alone (from the cache), the floor of any checked apply.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "deltas/delta_apply.h"

namespace {

bool digestFromHex(const char* hex, uint8_t digest[kSha256Size]) {
    if (strlen(hex) != 2 * kSha256Size) return false;
    for (size_t i = 0; i < kSha256Size; ++i) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], '\0'};
        digest[i] = static_cast<uint8_t>(strtoul(pair, nullptr, 16));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: bench_apply <base|-> <payload> <part> <target size> <target sha256 hex>\n");
        return 2;
    }
    uint8_t digest[kSha256Size];
    if (!digestFromHex(argv[5], digest)) return 2;
    uint64_t size = strtoull(argv[4], nullptr, 10);
    const char* base = argv[1][0] == '-' && argv[1][1] == '\0' ? nullptr : argv[1];
    DeltaApplyRequest request{base, argv[2], argv[3], size, digest, nullptr, nullptr};
    // What the process holds before it applies: Wine's and the runtime's own pages, not the apply's.
    PROCESS_MEMORY_COUNTERS before{};
    before.cb = sizeof before;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    DeltaApply result = applyDeltaPayload(request);
    QueryPerformanceCounter(&end);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    uint8_t again[kSha256Size];
    uint64_t hashedSize = 0;
    QueryPerformanceCounter(&start);
    bool hashed = result == DeltaApply::Done && hashInstalledFile(argv[3], again, &hashedSize);
    QueryPerformanceCounter(&end);
    double hashSeconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    // Read after the hash pass, which reads through a small buffer and so does not move the peaks.
    printf("result %d\nseconds %.4f\nbytes %llu\npeak_pagefile %llu\npeak_working_set %llu\nhash_seconds %.4f\n"
           "working_set_before %llu\n",
           static_cast<int>(result), seconds, static_cast<unsigned long long>(size),
           static_cast<unsigned long long>(memory.PeakPagefileUsage),
           static_cast<unsigned long long>(memory.PeakWorkingSetSize), hashSeconds,
           static_cast<unsigned long long>(before.WorkingSetSize));
    return result == DeltaApply::Done && hashed && memcmp(again, digest, kSha256Size) == 0 ? 0 : 1;
}
