// Benchmark driver: fetches one file with the update worker's downloadPatchFile from the compiled-in
// patch base URL into the current folder and prints the seconds it took.
#include <windows.h>

#include <cstdio>

#include "app/launcher_state.h"
#include "update/patch_download.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_download <file name below /Player/>\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int result = downloadPatchFile(argv[1], "/Player/");
    QueryPerformanceCounter(&end);
    printf("result %d\nseconds %.4f\nstatus %s\n", result,
           static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, gState.statusText);
    return result == 1 ? 0 : 1;
}
