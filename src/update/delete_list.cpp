// Applies "delete.txt" from the launcher's folder: one relative file name per line, each held to the
// same path rule as every other name from the server; the list is deleted once it has been read.
#include "update/delete_list.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/launcher_state.h"
#include "formats/delete_list_text.h"
#include "formats/path_check.h"

namespace {

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
        if (isSafeRelativePath(line)) deleteListedFile(line);
    }
    fclose(list);
    DeleteFileA(listPath);
}
