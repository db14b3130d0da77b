// Benchmark driver: unpacks one archive with the launcher's extractArchive into a folder and prints
// the seconds it took (measured inside, and the driver also measures the whole process).
#include <windows.h>

#include <cstdio>

#include "app/launcher_state.h"
#include "update/zip_extract.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_unzip <archive> <output folder>\n");
        return 2;
    }
    char archive[MAX_PATH];
    if (!GetFullPathNameA(argv[1], sizeof archive, archive, nullptr)) return 2;
    CreateDirectoryA(argv[2], nullptr);
    if (!SetCurrentDirectoryA(argv[2])) return 2;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    char message[kStatusTextSize] = {};
    int result = extractArchive(archive, message, sizeof message, nullptr);
    QueryPerformanceCounter(&end);
    printf("result %d\nseconds %.4f\nmessage %s\n", result,
           static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, message);
    return result == 1 ? 0 : 1;
}
