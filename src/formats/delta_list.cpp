// Reading and writing the delta list text. Strict like the patch index: a list that does not read
// exactly as written is refused whole, and the launcher then takes the archives.
#include "formats/delta_list.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "formats/path_check.h"
#include "formats/text_fields.h"

const char kDeltaListName[] = "PatchDeltas.txt";
const char kDeltaListDeleteTarget[] = "delete.txt";

namespace {

const char kHeaderLine[] = "VYR-PATCH-DELTAS 1";
const char kStepWord[] = "step";
const char kDeltaWord[] = "delta";
const char kWholeWord[] = "whole";
const char kLauncherWord[] = "launcher";
const char kSignatureWord[] = "signature";

// A version as the manifest writes it: a plain decimal above 0 that fits 32 bits.
bool parseVersion(const char* text, size_t length, uint32_t* version) {
    uint64_t value = 0;
    if (!parseIndexSize(text, length, &value) || value == 0 || value > UINT32_MAX) return false;
    *version = static_cast<uint32_t>(value);
    return true;
}

bool copyPath(const char* path, size_t length, char (&out)[kIndexPathSize]) {
    if (!isIndexPath(path, length)) return false;
    memcpy(out, path, length);
    out[length] = '\0';
    return isValidUtf8(out);
}

// The fields after the base hash, common to every entry line; the target path when `withTarget`.
bool parseEntryFields(FieldReader* fields, bool withTarget, DeltaEntry* entry) {
    const char* field = nullptr;
    size_t length = 0;
    if (!fields->hash(entry->targetSha256) || !fields->size(&entry->targetSize) ||
        !fields->hash(entry->payloadSha256) || !fields->size(&entry->payloadSize))
        return false;
    entry->targetPath[0] = '\0';
    if (!withTarget)
        return fields->rest(&field, &length) && memchr(field, ' ', length) == nullptr &&
               copyPath(field, length, entry->payloadPath);
    return fields->next(&field, &length) && copyPath(field, length, entry->payloadPath) &&
           fields->rest(&field, &length) && copyPath(field, length, entry->targetPath);
}

bool parseStepLine(FieldReader* fields, DeltaStep* step) {
    const char* field = nullptr;
    size_t length = 0;
    return fields->next(&field, &length) && parseVersion(field, length, &step->version) &&
           fields->hash(step->archiveSha256) && fields->rest(&field, &length) &&
           memchr(field, ' ', length) == nullptr && copyPath(field, length, step->archiveName);
}

enum class Section { Start, Steps, Launcher, Signed };

struct ListReader {
    DeltaList* list;
    Section section = Section::Start;
    // The current step's targets: a block may list tens of thousands, too many to compare pairwise.
    std::set<std::string> stepTargets;

    // One line between the header and the signature.
    bool readLine(const char* line, size_t length) {
        FieldReader fields = {line, line + length};
        const char* word = nullptr;
        size_t wordLength = 0;
        if (!fields.next(&word, &wordLength)) return false;
        std::string kind(word, wordLength);
        if (kind == kStepWord) return readStep(&fields);
        if (kind == kDeltaWord || kind == kWholeWord) return readEntry(&fields, kind == kDeltaWord);
        if (kind == kLauncherWord) return readLauncher(&fields);
        return false;
    }
    bool readStep(FieldReader* fields) {
        DeltaStep step = {};
        if (section == Section::Launcher || !parseStepLine(fields, &step)) return false;
        if (!list->steps.empty() && step.version <= list->steps.back().version) return false;
        list->steps.push_back(step);
        stepTargets.clear();
        section = Section::Steps;
        return true;
    }
    bool readEntry(FieldReader* fields, bool hasBase) {
        DeltaEntry entry = {};
        entry.hasBase = hasBase;
        if (section != Section::Steps) return false;
        if (hasBase && !fields->hash(entry.baseSha256)) return false;
        if (!parseEntryFields(fields, true, &entry) || !stepTargets.insert(entry.targetPath).second) return false;
        list->steps.back().entries.push_back(entry);
        return true;
    }
    bool readLauncher(FieldReader* fields) {
        DeltaEntry entry = {};
        entry.hasBase = true;
        if (!fields->hash(entry.baseSha256) || !parseEntryFields(fields, false, &entry)) return false;
        list->launcherDeltas.push_back(entry);
        section = Section::Launcher;
        return true;
    }
};

bool isSignatureLine(const char* line, size_t length, uint8_t signature[kP256SignatureSize]) {
    size_t word = strlen(kSignatureWord);
    return length > word && memcmp(line, kSignatureWord, word) == 0 && line[word] == ' ' &&
           parseHex(line + word + 1, length - word - 1, signature, kP256SignatureSize);
}

void appendEntry(std::string* text, const char* word, const DeltaEntry& e) {
    char hex[2 * kSha256Size + 1];
    *text += word;
    if (e.hasBase) {
        formatHex(e.baseSha256, kSha256Size, hex);
        *text += std::string(" ") + hex;
    }
    formatHex(e.targetSha256, kSha256Size, hex);
    *text += std::string(" ") + hex + " " + std::to_string(e.targetSize);
    formatHex(e.payloadSha256, kSha256Size, hex);
    *text += std::string(" ") + hex + " " + std::to_string(e.payloadSize) + " " + e.payloadPath;
    if (e.targetPath[0] != '\0') *text += std::string(" ") + e.targetPath;
    *text += "\n";
}

}  // namespace

bool parseDeltaList(const char* text, size_t length, DeltaList* list, IndexSignature signature) {
    list->steps.clear();
    list->launcherDeltas.clear();
    list->isSigned = false;
    ListReader reader{list, Section::Start, {}};
    size_t position = 0;
    bool first = true;
    while (position < length) {
        if (reader.section == Section::Signed) return false;  // nothing may follow the signature
        const char* line = text + position;
        const char* newline = static_cast<const char*>(memchr(line, '\n', length - position));
        size_t lineLength = newline ? static_cast<size_t>(newline - line) : length - position;
        if (memchr(line, '\r', lineLength) != nullptr || memchr(line, '\0', lineLength) != nullptr) return false;
        if (first) {
            if (lineLength != strlen(kHeaderLine) || memcmp(line, kHeaderLine, lineLength) != 0) return false;
            first = false;
        } else if (isSignatureLine(line, lineLength, list->signature)) {
            list->signedLength = position;
            list->isSigned = true;
            reader.section = Section::Signed;
        } else if (!reader.readLine(line, lineLength)) {
            return false;
        }
        position += lineLength + (newline ? 1 : 0);
    }
    if (first) return false;
    if (list->isSigned) return true;
    if (signature != IndexSignature::Optional) return false;
    memset(list->signature, 0, sizeof list->signature);
    list->signedLength = length;
    return true;
}

const DeltaStep* findDeltaStep(const DeltaList& list, uint32_t version) {
    for (const DeltaStep& step : list.steps)
        if (step.version == version) return &step;
    return nullptr;
}

std::string formatDeltaListBody(const DeltaList& list) {
    std::vector<DeltaStep> steps = list.steps;
    std::sort(steps.begin(), steps.end(), [](const DeltaStep& a, const DeltaStep& b) { return a.version < b.version; });
    std::string text = std::string(kHeaderLine) + "\n";
    char hex[2 * kSha256Size + 1];
    for (DeltaStep& step : steps) {
        formatHex(step.archiveSha256, kSha256Size, hex);
        text += std::string(kStepWord) + " " + std::to_string(step.version) + " " + hex + " " + step.archiveName + "\n";
        std::sort(step.entries.begin(), step.entries.end(),
                  [](const DeltaEntry& a, const DeltaEntry& b) { return strcmp(a.targetPath, b.targetPath) < 0; });
        for (const DeltaEntry& e : step.entries) appendEntry(&text, e.hasBase ? kDeltaWord : kWholeWord, e);
    }
    for (const DeltaEntry& e : list.launcherDeltas) appendEntry(&text, kLauncherWord, e);
    return text;
}
