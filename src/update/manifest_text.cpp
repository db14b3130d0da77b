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
        reader->tableCut = false;
        if (reader->targets.stepTableCut) *reader->targets.stepTableCut = 0;
    } else {
        return false;
    }
    return true;
}

bool isVersionWord(const char* word, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (!(word[i] >= '0' && word[i] <= '9') && word[i] != '.') return false;
    return true;
}

// The first word of a version line; blank lines, overlong words and words that are not plain
// version texts leave the text as it was.
void readVersionLine(const char* word, size_t length, char* versionText) {
    if (!word || length >= kVersionTextSize || !isVersionWord(word, length)) return;
    snprintf(versionText, kVersionTextSize, "%.*s", static_cast<int>(length), word);
}

struct StepLine {
    int32_t version;
    int nameCount;
    const char* names[kMaxStepFiles];
    size_t nameLengths[kMaxStepFiles];
};

enum class StepNumber { None, Read, OutOfRange };

StepNumber readStepNumber(const char** rest, int32_t* version) {
    *version = 0;
    const char* line = *rest;
    if (scanDecimalInteger(rest, version)) return StepNumber::Read;
    const char* c = line;
    while (isWordSpace(*c)) ++c;
    bool digits = (*c == '-' || *c == '+') ? (c[1] >= '0' && c[1] <= '9') : (*c >= '0' && *c <= '9');
    return digits ? StepNumber::OutOfRange : StepNumber::None;
}

// A number beyond 32 bits may well be newer than the installed game, so it counts as pending.
bool isPendingStep(const ManifestReader* reader, StepNumber number, int32_t version) {
    return number == StepNumber::OutOfRange || (number == StepNumber::Read && version > reader->localGameVersion);
}

void cutStepTable(ManifestReader* reader) {
    reader->tableCut = true;
    if (reader->targets.stepTableCut) *reader->targets.stepTableCut = 1;
}

// A leading number and up to sixteen names (more are ignored). false when the line is malformed.
bool splitStepLine(const char* line, StepLine* step, StepNumber* number) {
    step->nameCount = 0;
    const char* rest = line;
    *number = readStepNumber(&rest, &step->version);
    if (*number != StepNumber::Read) return *number == StepNumber::None;  // no number reads as 0: nothing stored
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
    StepNumber number;
    if (!splitStepLine(line, &step, &number)) {
        if (isPendingStep(reader, number, step.version)) cutStepTable(reader);
        return;
    }
    if (step.version == 0) return;  // a stored 0 would end the table, also below a negative installed version
    *reader->targets.serverGameVersion = step.version;
    if (step.version > reader->localGameVersion && !reader->tableCut) storeStep(reader, step);
}

}  // namespace

void beginManifest(ManifestReader* reader, const ManifestTargets& targets, int localGameVersion) {
    reader->targets = targets;
    reader->localGameVersion = localGameVersion;
    reader->section = ManifestSection::None;
    reader->storedSteps = 0;
    reader->tableCut = false;
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

bool readBrokenManifestLine(ManifestReader* reader, const char* prefix) {
    if (reader->section != ManifestSection::Player) return true;
    if (reader->storedSteps >= kMaxVersionSteps) return false;
    const char* rest = prefix;
    int32_t version = 0;
    StepNumber number = readStepNumber(&rest, &version);
    if (isPendingStep(reader, number, version)) cutStepTable(reader);
    return true;
}

namespace {

// One line of the file: its first kManifestPieceLength characters in `piece`, and whether the line
// was read whole (no longer than a piece, no NUL byte). false at the end of the file.
bool readLinePiece(FILE* file, char (&piece)[kManifestPieceLength + 1], bool* whole) {
    size_t length = 0;
    bool sawNul = false;
    bool overlong = false;
    int c = fgetc(file);
    if (c == EOF) return false;
    for (; c != EOF; c = fgetc(file)) {
        if (c == '\0') sawNul = true;
        if (length < kManifestPieceLength) {
            piece[length++] = static_cast<char>(c);
        } else if (c != '\n') {
            overlong = true;
        }
        if (c == '\n') break;
    }
    piece[length] = '\0';
    *whole = !sawNul && !overlong;
    return true;
}

}  // namespace

void readManifestFile(FILE* file, const ManifestTargets& targets, int localGameVersion) {
    ManifestReader reader;
    beginManifest(&reader, targets, localGameVersion);
    char piece[kManifestPieceLength + 1];
    bool whole = true;
    while (readLinePiece(file, piece, &whole)) {
        bool goOn = whole ? readManifestLine(&reader, piece) : readBrokenManifestLine(&reader, piece);
        if (!goOn) break;
    }
}
