// Reading and comparing "%d.%d.%d.%d" version texts, and formatting the Updater command lines.
// The reader is hand-written so that out-of-range numbers have a defined result.
#include "update/version_text.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

bool isScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

bool scanDecimalInteger(const char** text, int32_t* value) {
    const char* c = *text;
    while (isScanSpace(*c)) ++c;
    bool negative = *c == '-';
    if (*c == '-' || *c == '+') ++c;
    if (*c < '0' || *c > '9') return false;
    long long magnitude = 0;
    for (; *c >= '0' && *c <= '9'; ++c) {
        magnitude = magnitude * 10 + (*c - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
    }
    long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX) return false;
    *value = static_cast<int32_t>(signedValue);
    *text = c;
    return true;
}

VersionQuad readVersionText(const char* text) {
    VersionQuad version{};
    if (!text) return version;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*text != '.') break;
            ++text;
        }
        if (!scanDecimalInteger(&text, &version.component[i])) break;
    }
    return version;
}

int compareVersions(const VersionQuad& a, const VersionQuad& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.component[i] < b.component[i]) return -1;
        if (a.component[i] > b.component[i]) return 1;
    }
    return 0;
}

bool formatUpdaterCommandLine(char* buffer, size_t bufferSize, HandOff kind, int processId, const char* version,
                              const char* baseUrl) {
    if (bufferSize == 0) return false;
    memset(buffer, 0, bufferSize);
    const char* versionText = version ? version : "";
    const char* urlText = baseUrl ? baseUrl : "";
    int needed = kind == HandOff::Installer
                     ? snprintf(buffer, bufferSize, "Updater Installer %d %s %s", processId, versionText, urlText)
                     : snprintf(buffer, bufferSize, "Updater Launcher %d %s %s", processId, versionText, urlText);
    return needed >= 0 && static_cast<size_t>(needed) < bufferSize;
}
