// Test driver for archives written by other programs: unpacks each archive of a list with the
// launcher's extractArchive into a folder of its own and reports the outcome, so that one Wine start
// serves hundreds of archives. tests/zip_corpus.py makes the list and judges the folders.
// List lines: "<archive>\t<output folder>"; report lines: "<index>\t<result>\t<message>", the message
// with its line feeds written as "\n". An extraction that runs longer than the limit ends the process
// with code 3 after reporting which archive hung.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "archives/zip_extract.h"

namespace {

const DWORD kArchiveTimeLimitMs = 30000;
enum { kMessageSize = 1024, kLineSize = 2048 };

UnpackBuffers gBuffers;
HANDLE gArchiveDone;
FILE* gReport;
volatile long gCurrent = -1;

DWORD WINAPI watchForHang(void*) {
    for (;;) {
        long watched = gCurrent;
        if (WaitForSingleObject(gArchiveDone, kArchiveTimeLimitMs) == WAIT_TIMEOUT && watched == gCurrent &&
            watched >= 0) {
            fprintf(gReport, "%ld\tHANG\tno result after %lu ms\n", watched, kArchiveTimeLimitMs);
            fflush(gReport);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

std::string escapeLineFeeds(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') {
            out += "\\n";
        } else if (*p == '\r') {
            out += "\\r";
        } else {
            out += *p;
        }
    }
    return out;
}

void trimLineEnd(char* line) {
    size_t length = strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: zip_corpus_runner <list> <report>\n");
        return 2;
    }
    FILE* list = fopen(argv[1], "rb");
    gReport = fopen(argv[2], "wb");
    if (list == nullptr || gReport == nullptr) {
        fprintf(stderr, "cannot open the list or the report\n");
        return 2;
    }
    gArchiveDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CreateThread(nullptr, 0, watchForHang, nullptr, 0, nullptr);
    char line[kLineSize];
    long index = 0;
    while (fgets(line, sizeof line, list) != nullptr) {
        trimLineEnd(line);
        char* tab = strchr(line, '\t');
        if (tab == nullptr) continue;
        *tab = '\0';
        const char* archive = line;
        const char* folder = tab + 1;
        CreateDirectoryA(folder, nullptr);
        if (!SetCurrentDirectoryA(folder)) {
            fprintf(gReport, "%ld\tSETUP\tcannot enter %s\n", index, folder);
            return 2;
        }
        char message[kMessageSize] = {};
        gCurrent = index;
        SetEvent(gArchiveDone);
        int result = extractArchive(archive, message, sizeof message, &gBuffers, nullptr);
        gCurrent = -1;
        SetEvent(gArchiveDone);
        fprintf(gReport, "%ld\t%d\t%s\n", index, result, escapeLineFeeds(message).c_str());
        fflush(gReport);
        ++index;
    }
    fclose(list);
    fclose(gReport);
    return 0;
}
