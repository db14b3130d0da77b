// Line-by-line manifest parser. Words are measured before they are copied, so a word that does not
// fit its field makes the line malformed instead of being cut into a different version or file name.
#include "update/manifest_text.h"

#include <cstdint>
#include <cstring>

#include "update/version_text.h"

namespace {

bool isWordSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The next white-space-delimited word at or after text, or nullptr when none is left.
const char* nextWord(const char* text, size_t* length) {
    while (*text && isWordSpace(*text)) ++text;
    if (!*text) return nullptr;
    const char* end = text;
    while (*end && !isWordSpace(*end)) ++end;
    *length = static_cast<size_t>(end - text);
    return text;
}

bool wordIs(const char* word, size_t length, const char* header) {
    return strlen(header) == length && memcmp(word, header, length) == 0;
}

bool switchSection(ManifestReader* reader, const char* word, size_t length) {
    if (wordIs(word, length, "[INSTALLER]")) {
        reader->section = ManifestSection::Installer;
    } else if (wordIs(word, length, "[LAUNCHER]")) {
        reader->section = ManifestSection::Launcher;
    } else if (wordIs(word, length, "[PLAYER]")) {
        reader->section = ManifestSection::Player;
        memset(reader->targets.steps, 0, sizeof(VersionStep) * kMaxVersionSteps);
        *reader->targets.totalFileCount = 0;
        reader->storedSteps = 0;
    } else {
        return false;
    }
    return true;
}

// The first word of a version line; blank lines and overlong words leave the text as it was.
void readVersionLine(const char* word, size_t length, char* versionText) {
    if (!word || length >= kVersionTextSize) return;
    snprintf(versionText, kVersionTextSize, "%.*s", static_cast<int>(length), word);
}

struct StepLine {
    int32_t version;
    int nameCount;
    const char* names[kMaxStepFiles];
    size_t nameLengths[kMaxStepFiles];
};

// A leading number and up to sixteen names (more are ignored). false when the line is malformed.
bool splitStepLine(const char* line, StepLine* step) {
    step->version = 0;
    step->nameCount = 0;
    const char* rest = line;
    if (!scanDecimalInteger(&rest, &step->version)) {
        const char* c = line;
        while (isWordSpace(*c)) ++c;
        bool numberTooLarge = (*c == '-' || *c == '+') ? (c[1] >= '0' && c[1] <= '9') : (*c >= '0' && *c <= '9');
        return !numberTooLarge;  // no number at all reads as 0, which stores nothing
    }
    size_t length = 0;
    const char* word = nextWord(rest, &length);
    while (word && step->nameCount < kMaxStepFiles) {
        if (length >= kStepFileNameSize) return false;
        step->names[step->nameCount] = word;
        step->nameLengths[step->nameCount] = length;
        ++step->nameCount;
        word = nextWord(word + length, &length);
    }
    return true;
}

void storeStep(ManifestReader* reader, const StepLine& step) {
    VersionStep& slot = reader->targets.steps[reader->storedSteps];
    memset(&slot, 0, sizeof slot);
    slot.version = step.version;
    for (int i = 0; i < step.nameCount; ++i) {
        snprintf(slot.files[i], sizeof slot.files[i], "%.*s", static_cast<int>(step.nameLengths[i]), step.names[i]);
    }
    slot.fileCount = step.nameCount;
    *reader->targets.totalFileCount += step.nameCount;
    ++reader->storedSteps;
}

void readStepLine(ManifestReader* reader, const char* line) {
    StepLine step;
    if (!splitStepLine(line, &step)) return;
    if (step.version == 0) return;  // a stored 0 would end the table, also below a negative installed version
    *reader->targets.serverGameVersion = step.version;
    if (step.version > reader->localGameVersion) storeStep(reader, step);
}

}  // namespace

void beginManifest(ManifestReader* reader, const ManifestTargets& targets, int localGameVersion) {
    reader->targets = targets;
    reader->localGameVersion = localGameVersion;
    reader->section = ManifestSection::None;
    reader->storedSteps = 0;
}

bool readManifestLine(ManifestReader* reader, const char* line) {
    size_t length = 0;
    const char* word = nextWord(line, &length);
    if (word && switchSection(reader, word, length)) return true;
    if (reader->section == ManifestSection::Player && reader->storedSteps >= kMaxVersionSteps) return false;
    switch (reader->section) {
        case ManifestSection::Installer:
            readVersionLine(word, length, reader->targets.installerVersion);
            break;
        case ManifestSection::Launcher:
            readVersionLine(word, length, reader->targets.launcherVersion);
            break;
        case ManifestSection::Player:
            readStepLine(reader, line);
            break;
        case ManifestSection::None:
            break;
    }
    return true;
}

void readManifestFile(FILE* file, const ManifestTargets& targets, int localGameVersion) {
    ManifestReader reader;
    beginManifest(&reader, targets, localGameVersion);
    char piece[kManifestPieceLength + 1];
    bool skippingLongLine = false;
    while (fgets(piece, sizeof piece, file)) {
        size_t length = strlen(piece);
        bool endsLine = length > 0 && piece[length - 1] == '\n';
        if (!endsLine) {
            // A piece that is full may still be a whole line: its line feed or the end of the file follows.
            int next = fgetc(file);
            if (next == '\n' || next == EOF) {
                endsLine = true;
            } else {
                ungetc(next, file);
            }
        }
        bool partOfLongLine = skippingLongLine || !endsLine;
        skippingLongLine = !endsLine;
        if (partOfLongLine) continue;
        if (!readManifestLine(&reader, piece)) break;
    }
}
