// Line-by-line manifest parser. Words are measured before they are copied, so a word that does not
// fit its field makes the line malformed instead of being cut into a different version or file name.
#include "support/deployed_manifest_text.h"

#include <cstdint>
#include <cstring>

#include "formats/path_check.h"
#include "formats/version_text.h"

namespace deployed_reader {

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

bool tableHasRoom(const ManifestReader* reader) { return reader->storedSteps < kMaxVersionSteps; }

// Past a full table a bad pending step is left to the next reading, which starts below it and ends
// its table there.
void readStepLine(ManifestReader* reader, const char* line) {
    StepLine step;
    StepNumber number;
    if (!splitStepLine(line, &step, &number)) {
        if (isPendingStep(reader, number, step.version) && tableHasRoom(reader)) cutStepTable(reader);
        return;
    }
    if (step.version == 0) return;  // a stored 0 would end the table, also below a negative installed version
    *reader->targets.serverGameVersion = step.version;
    if (step.version > reader->localGameVersion && !reader->tableCut && tableHasRoom(reader)) storeStep(reader, step);
}

}  // namespace

void beginManifest(ManifestReader* reader, const ManifestTargets& targets, int localGameVersion) {
    reader->targets = targets;
    reader->localGameVersion = localGameVersion;
    reader->section = ManifestSection::None;
    reader->storedSteps = 0;
    reader->tableCut = false;
}

void readManifestLine(ManifestReader* reader, const char* line) {
    size_t length = 0;
    const char* word = nextWord(line, &length);
    if (word && switchSection(reader, word, length)) return;
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
}

void readBrokenManifestLine(ManifestReader* reader, const char* prefix) {
    if (reader->section != ManifestSection::Player) return;
    const char* rest = prefix;
    int32_t version = 0;
    StepNumber number = readStepNumber(&rest, &version);
    if (isPendingStep(reader, number, version) && tableHasRoom(reader)) cutStepTable(reader);
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

// The launcher's reader with a window of one step, emptied after every line into the contents.
struct ContentsReader {
    ManifestReader reader;
    VersionStep window[kMaxVersionSteps];
    int serverGameVersion;
    int totalFileCount;
    int tableCut;
    ManifestContents* contents;
};

void collectContentsLine(ContentsReader* c, const char* line, bool whole) {
    size_t length = 0;
    const char* word = nextWord(line, &length);
    // A "[PLAYER]" header drops the steps read so far, as it empties the launcher's table.
    if (whole && word && wordIs(word, length, "[PLAYER]")) c->contents->steps.clear();
    if (whole) {
        readManifestLine(&c->reader, line);
    } else {
        readBrokenManifestLine(&c->reader, line);
    }
    if (c->reader.storedSteps > 0) {
        c->contents->steps.push_back(c->window[0]);
        c->reader.storedSteps = 0;
    }
}

bool refuse(std::string* problem, const std::string& why) {
    *problem = why;
    return false;
}

bool isDecimalComponent(const char* text, size_t length) {
    if (length == 0 || length > 10) return false;
    long long value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return value <= INT32_MAX;
}

bool formatStepLine(const VersionStep& step, std::string* line, std::string* problem) {
    if (step.version == 0) return refuse(problem, "a step numbered 0 is never stored by the launcher");
    if (step.fileCount < 0 || step.fileCount > kMaxStepFiles)
        return refuse(problem, "step " + std::to_string(step.version) + " has more than 16 files");
    *line = std::to_string(step.version);
    for (int i = 0; i < step.fileCount; ++i) {
        if (!isManifestFileName(step.files[i]))
            return refuse(problem, std::string("the launcher cannot read the file name \"") + step.files[i] + "\"");
        *line += std::string(" ") + step.files[i];
    }
    if (line->size() > kManifestPieceLength)
        return refuse(problem, "the line of step " + std::to_string(step.version) + " is too long");
    return true;
}

bool formatVersionSection(const char* header, const char* version, std::string* text, std::string* problem) {
    *text += std::string(header) + "\n";
    if (version[0] == '\0') return true;
    if (!isPublishableVersionText(version))
        return refuse(problem, std::string("the version text \"") + version + "\" is not A.B.C.D");
    *text += std::string(version) + "\n";
    return true;
}

}  // namespace

void readManifestFile(FILE* file, const ManifestTargets& targets, int localGameVersion) {
    ManifestReader reader;
    beginManifest(&reader, targets, localGameVersion);
    char piece[kManifestPieceLength + 1];
    bool whole = true;
    while (readLinePiece(file, piece, &whole)) {
        if (whole) {
            readManifestLine(&reader, piece);
        } else {
            readBrokenManifestLine(&reader, piece);
        }
    }
}

bool hasPlayerSection(FILE* file) {
    char piece[kManifestPieceLength + 1];
    bool whole = true;
    bool found = false;
    while (readLinePiece(file, piece, &whole)) {
        size_t length = 0;
        const char* word = nextWord(piece, &length);
        found = found || (whole && word && wordIs(word, length, "[PLAYER]"));
    }
    return found;
}

bool readManifestContents(FILE* file, ManifestContents* contents) {
    memset(contents->installerVersion, 0, sizeof contents->installerVersion);
    memset(contents->launcherVersion, 0, sizeof contents->launcherVersion);
    contents->steps.clear();
    ContentsReader c;
    c.contents = contents;
    c.tableCut = 0;
    ManifestTargets targets{contents->installerVersion, contents->launcherVersion, &c.serverGameVersion, c.window,
                            &c.totalFileCount, &c.tableCut};
    // Below every step number but the lowest, so each nonzero step is pending and stored as it is read.
    beginManifest(&c.reader, targets, INT32_MIN);
    char piece[kManifestPieceLength + 1];
    bool whole = true;
    while (readLinePiece(file, piece, &whole)) collectContentsLine(&c, piece, whole);
    return c.tableCut == 0;
}

bool sameManifestContents(const ManifestContents& a, const ManifestContents& b) {
    if (strcmp(a.installerVersion, b.installerVersion) != 0 || strcmp(a.launcherVersion, b.launcherVersion) != 0 ||
        a.steps.size() != b.steps.size())
        return false;
    for (size_t i = 0; i < a.steps.size(); ++i) {
        const VersionStep& x = a.steps[i];
        const VersionStep& y = b.steps[i];
        if (x.version != y.version || x.fileCount != y.fileCount) return false;
        for (int f = 0; f < x.fileCount; ++f)
            if (strcmp(x.files[f], y.files[f]) != 0) return false;
    }
    return true;
}

bool isPublishableVersionText(const char* text) {
    size_t length = strnlen(text, kVersionTextSize);
    if (length >= kVersionTextSize) return false;
    int components = 0;
    const char* part = text;
    for (;;) {
        const char* dot = strchr(part, '.');
        size_t partLength = dot ? static_cast<size_t>(dot - part) : strlen(part);
        if (!isDecimalComponent(part, partLength)) return false;
        ++components;
        if (!dot) break;
        part = dot + 1;
    }
    return components == 4;
}

bool isManifestFileName(const char* name) {
    size_t length = strnlen(name, kStepFileNameSize);
    if (length == 0 || length >= kStepFileNameSize || !isSafeRelativePath(name)) return false;
    if (name[length - 1] == '/' || name[length - 1] == '\\') return false;
    for (size_t i = 0; i < length; ++i)
        if (isWordSpace(name[i])) return false;
    return true;
}

bool formatManifest(const ManifestContents& contents, std::string* text, std::string* problem) {
    text->clear();
    if (!formatVersionSection("[INSTALLER]", contents.installerVersion, text, problem) ||
        !formatVersionSection("[LAUNCHER]", contents.launcherVersion, text, problem))
        return false;
    *text += "[PLAYER]\n";
    for (const VersionStep& step : contents.steps) {
        std::string line;
        if (!formatStepLine(step, &line, problem)) return false;
        *text += line + "\n";
    }
    return true;
}

}  // namespace deployed_reader
