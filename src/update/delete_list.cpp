// Applies "delete.txt" from the launcher's folder: one relative file name per line, each held to the
// same path rule as every other name from the server; the list is deleted once it has been read.
// Launchers before names beyond ASCII read every line through the ANSI code page: a UTF-8 line names,
// for them, a file that is not there, and a failed delete is ignored.
#include "update/delete_list.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/launcher_state.h"
#include "formats/delete_list_text.h"
#include "formats/path_check.h"

namespace {

enum { kWidePathSize = 1024 };

// Reads one line of at most 254 characters. A longer line is consumed whole and reported as
// overlong, so its tail is never taken for a name of its own.
bool readListLine(FILE* list, char* line, bool* overlong) {
    if (fgets(line, kDeleteLineSize, list) == nullptr) return false;
    size_t length = strlen(line);
    *overlong = false;
    if (length == 0 || line[length - 1] == '\n') return true;
    int c = fgetc(list);
    if (c == '\n' || c == EOF) return true;  // the line filled the buffer exactly
    *overlong = true;
    while ((c = fgetc(list)) != EOF && c != '\n') {
    }
    return true;
}

void deleteListedFile(const char* name) {
    char path[kPathSize * 2];
    int written = snprintf(path, sizeof path, "%s\\%s", gState.moduleDirectory, name);
    if (written < 0 || static_cast<size_t>(written) >= sizeof path) return;
    // The game executable is kept read-only; a listed file is removed all the same.
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
}

bool hasByteBeyondAscii(const char* text) {
    for (; *text != '\0'; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80) return true;
    return false;
}

// vyr-publish writes names beyond ASCII as UTF-8, the way the archive that shipped them flags them;
// through the ANSI code page they would name another file.
void deleteListedUtf8File(const char* name) {
    WCHAR folder[kWidePathSize];
    WCHAR wideName[kWidePathSize];
    if (MultiByteToWideChar(CP_ACP, 0, gState.moduleDirectory, -1, folder, kWidePathSize) == 0) return;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wideName, kWidePathSize) == 0) return;
    WCHAR path[kWidePathSize * 2];
    int written = _snwprintf(path, sizeof path / sizeof path[0], L"%ls\\%ls", folder, wideName);
    if (written < 0 || static_cast<size_t>(written) >= sizeof path / sizeof path[0]) return;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
}

}  // namespace

void applyDeleteList() {
    char listPath[kPathSize * 2];
    snprintf(listPath, sizeof listPath, "%s\\delete.txt", gState.moduleDirectory);
    FILE* list = fopen(listPath, "r");
    if (list == nullptr) return;
    char line[kDeleteLineSize];
    bool overlong = false;
    while (readListLine(list, line, &overlong)) {
        // A line this short (its line feed counted) marks the end of the list.
        if (endsDeleteList(line)) break;
        if (overlong) continue;
        size_t length = strlen(line);
        if (line[length - 1] == '\n') line[length - 1] = '\0';
        if (!isSafeRelativePath(line)) continue;
        // A line beyond ASCII that is not UTF-8 was written in the code page, as lists were before
        // vyr-publish wrote UTF-8, and keeps the meaning it had for every launcher before this one.
        if (hasByteBeyondAscii(line) && isValidUtf8(line))
            deleteListedUtf8File(line);
        else
            deleteListedFile(line);
    }
    fclose(list);
    DeleteFileA(listPath);
}
