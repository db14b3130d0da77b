// Benchmark reference: the least a patch client must do over WinINet. One session fetches every URL of
// a list, one after the other, into a folder (named by the URL's last segment), with the certificate
// checks and cache flags the update worker uses; prints the file count, the bytes and the seconds.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>

namespace {

enum { kReadChunkSize = 64 * 1024, kLineSize = 1024 };

const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE;

double secondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// Reads the body of an opened URL into a new local file; the byte count, or -1 on any failure.
long long readIntoFile(HINTERNET url, const char* localPath) {
    HANDLE file = CreateFileA(localPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    static char buffer[kReadChunkSize];
    long long total = 0;
    DWORD count = 0;
    bool ok = true;
    while ((ok = InternetReadFile(url, buffer, sizeof buffer, &count) != FALSE) && count > 0) {
        DWORD written = 0;
        if (!WriteFile(file, buffer, count, &written, nullptr) || written != count) {
            ok = false;
            break;
        }
        total += count;
    }
    CloseHandle(file);
    return ok ? total : -1;
}

long long fetch(HINTERNET session, const char* address, const char* folder) {
    const char* leaf = strrchr(address, '/');
    char localPath[MAX_PATH];
    snprintf(localPath, sizeof localPath, "%s\\%s", folder, leaf != nullptr ? leaf + 1 : address);
    HINTERNET url = InternetOpenUrlA(session, address, nullptr, 0, kRequestFlags, 0);
    if (url == nullptr) {
        fprintf(stderr, "open failed (%lu): %s\n", GetLastError(), address);
        return -1;
    }
    DWORD status = 0, size = sizeof status;
    long long bytes = -1;
    if (HttpQueryInfoA(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) && status == 200)
        bytes = readIntoFile(url, localPath);
    if (bytes < 0) fprintf(stderr, "status %lu or read failed: %s\n", status, address);
    InternetCloseHandle(url);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_fetch_reference <file listing one URL a line> <output folder>\n");
        return 2;
    }
    FILE* list = fopen(argv[1], "r");
    if (list == nullptr) return 2;
    CreateDirectoryA(argv[2], nullptr);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HINTERNET session = InternetOpenA("MS", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (session == nullptr) return 1;
    long long total = 0;
    int files = 0;
    char line[kLineSize];
    while (fgets(line, sizeof line, list) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0') continue;
        long long bytes = fetch(session, line, argv[2]);
        if (bytes < 0) return 1;
        total += bytes;
        ++files;
    }
    InternetCloseHandle(session);
    fclose(list);
    printf("files %d\nbytes %lld\nseconds %.4f\n", files, total, secondsSince(start));
    return 0;
}
