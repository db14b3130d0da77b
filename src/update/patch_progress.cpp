// Bounded progress values for the two bars, whatever Content-Length and manifest counts come in,
// and the rule that tells an archive from a plain patch file.
#include "update/patch_progress.h"

#include <cstring>

namespace {

int clampPercent(long long value) { return value < 0 ? 0 : (value > 100 ? 100 : static_cast<int>(value)); }

char toLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

int filePercent(long long received, long long fileSize, int previous) {
    if (fileSize <= 0) return clampPercent(previous);
    if (received <= 0) return 0;
    if (received >= fileSize) return 100;
    float percent = static_cast<float>(received) * 1.0f / static_cast<float>(fileSize) * 100.0f;
    return clampPercent(static_cast<long long>(percent));
}

int totalPercent(int done, int totalFileCount) {
    if (totalFileCount <= 0) return 0;
    return clampPercent(static_cast<long long>(done) * 100 / totalFileCount);
}

bool isArchiveName(const char* name) {
    size_t length = strlen(name);
    if (length <= 3) return false;
    const char* tail = name + length - 3;
    return toLowerAscii(tail[0]) == 'z' && toLowerAscii(tail[1]) == 'i' && toLowerAscii(tail[2]) == 'p';
}
