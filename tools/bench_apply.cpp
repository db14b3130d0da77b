// Benchmark driver: applies one payload with the launcher's applyDeltaPayload and prints the seconds it
// took (hash included), the output size, and the process's peak memory as Windows counts it.
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
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    DeltaApply result = applyDeltaPayload(request);
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("result %d\nseconds %.4f\nbytes %llu\npeak_pagefile %llu\npeak_working_set %llu\n",
           static_cast<int>(result), static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
           static_cast<unsigned long long>(size), static_cast<unsigned long long>(memory.PeakPagefileUsage),
           static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    return result == DeltaApply::Done ? 0 : 1;
}
