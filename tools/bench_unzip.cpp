// Benchmark driver: unpacks one archive with the launcher's extractArchive into a folder and prints
// the seconds it took (measured inside, and the driver also measures the whole process).
#include <windows.h>

#include <cstdio>

#include "archives/zip_extract.h"

UnpackBuffers gBuffers;

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
    char message[1024] = {};
    int result = extractArchive(archive, message, sizeof message, &gBuffers, nullptr);
    QueryPerformanceCounter(&end);
    printf("result %d\nseconds %.4f\nmessage %s\n", result,
           static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, message);
    return result == 1 ? 0 : 1;
}
