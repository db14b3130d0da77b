// Reading and comparing "%d.%d.%d.%d" version texts, and formatting the Updater command lines.
// The reader is hand-written so that out-of-range numbers have a defined result.
#include "formats/version_text.h"

#include "network/url.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

bool isScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

const char kLauncherWord[] = "Launcher";
const char kInstallerWord[] = "Installer";
const int kVersionParts = 4;

struct Word {
    const char* start;
    size_t length;
};

// The next blank-separated word; a word opening with a quote runs to the closing quote, as Windows
// reads a program name. length 0 at the end of the text.
Word nextWord(const char** text) {
    const char* c = *text;
    while (*c == ' ' || *c == '\t') ++c;
    Word word{c, 0};
    if (*c == '"') {
        const char* close = strchr(c + 1, '"');
        const char* end = close ? close + 1 : c + strlen(c);
        word.length = static_cast<size_t>(end - c);
        *text = end;
        return word;
    }
    while (*c && *c != ' ' && *c != '\t') ++c;
    word.length = static_cast<size_t>(c - word.start);
    *text = c;
    return word;
}

bool wordIs(const Word& word, const char* expected) {
    return word.length == strlen(expected) && memcmp(word.start, expected, word.length) == 0;
}

bool readHandOffWord(const Word& word, HandOff* kind) {
    if (wordIs(word, kLauncherWord)) *kind = HandOff::Launcher;
    else if (wordIs(word, kInstallerWord)) *kind = HandOff::Installer;
    else return false;
    return true;
}

bool readProcessId(const Word& word, uint32_t* processId) {
    if (word.length == 0 || word.length > 10) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < word.length; ++i) {
        if (word.start[i] < '0' || word.start[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(word.start[i] - '0');
    }
    if (value > UINT32_MAX) return false;
    *processId = static_cast<uint32_t>(value);
    return true;
}

// One to four numbers of at most nine digits, joined by single dots: nothing a version reader could
// take two ways.
bool isVersionWord(const Word& word) {
    int parts = 1;
    size_t digits = 0;
    for (size_t i = 0; i < word.length; ++i) {
        char c = word.start[i];
        if (c == '.') {
            if (digits == 0 || ++parts > kVersionParts) return false;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            if (++digits > 9) return false;
        } else {
            return false;
        }
    }
    return digits > 0;
}

bool copyWord(const Word& word, char* field, size_t fieldSize) {
    if (word.length >= fieldSize) return false;
    memcpy(field, word.start, word.length);
    field[word.length] = '\0';
    return true;
}

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

bool parseUpdaterCommandLine(const char* commandLine, UpdaterCommand* command) {
    memset(command, 0, sizeof *command);
    if (!commandLine) return false;
    const char* rest = commandLine;
    Word word = nextWord(&rest);
    if (!readHandOffWord(word, &command->kind)) {
        word = nextWord(&rest);  // the first word was the program's name
        if (!readHandOffWord(word, &command->kind)) return false;
    }
    if (!readProcessId(nextWord(&rest), &command->processId)) return false;
    Word version = nextWord(&rest);
    if (!isVersionWord(version) || !copyWord(version, command->version, sizeof command->version)) return false;
    if (!copyWord(nextWord(&rest), command->baseUrl, sizeof command->baseUrl)) return false;
    UrlParts parts;
    if (!splitUrl(command->baseUrl, &parts)) return false;
    return nextWord(&rest).length == 0;
}
