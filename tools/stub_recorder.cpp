// Stand-in for the game client and for Updater in tests and the demo: records the command line it
// was started with into "<own file name>.args.txt" beside itself, then ends.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH + 16] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    char recordPath[MAX_PATH + 32] = {};
    snprintf(recordPath, sizeof recordPath, "%s.args.txt", path);
    FILE* record = fopen(recordPath, "wb");
    if (!record) return 3;
    // The raw command line: exactly what the starter handed over, quotes and all.
    const char* commandLine = GetCommandLineA();
    fwrite(commandLine, 1, strlen(commandLine), record);
    fclose(record);
    return 0;
}
