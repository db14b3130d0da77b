// Fuzzes the delta list reader, which takes the server's "PatchDeltas.txt": whatever it accepts holds
// only names the launcher may write, one block per version in rising order, each target once, and
// reads back the same from what the publisher would write for those values, so the signature covers
// everything the launcher then believes.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "formats/delta_list.h"
#include "formats/path_check.h"

namespace {

void checkPath(const char* path) {
    FUZZ_CHECK(isTerminated(path, kIndexPathSize));
    FUZZ_CHECK(isSafeRelativePath(path) && isValidUtf8(path) && strchr(path, '\\') == nullptr);
}

void checkEntry(const DeltaEntry& e, bool launcher) {
    checkPath(e.payloadPath);
    FUZZ_CHECK(strchr(e.payloadPath, ' ') == nullptr);
    FUZZ_CHECK(e.targetSize <= static_cast<uint64_t>(INT64_MAX) && e.payloadSize <= static_cast<uint64_t>(INT64_MAX));
    if (launcher) {
        FUZZ_CHECK(e.hasBase && e.targetPath[0] == '\0');
    } else {
        checkPath(e.targetPath);
    }
}

void checkList(const DeltaList& list) {
    for (size_t s = 0; s < list.steps.size(); ++s) {
        const DeltaStep& step = list.steps[s];
        FUZZ_CHECK(step.version > 0 && (s == 0 || step.version > list.steps[s - 1].version));
        FUZZ_CHECK(findDeltaStep(list, step.version) == &step);
        checkPath(step.archiveName);
        for (size_t e = 0; e < step.entries.size(); ++e) {
            checkEntry(step.entries[e], false);
            for (size_t other = 0; other < e; ++other)
                FUZZ_CHECK(strcmp(step.entries[other].targetPath, step.entries[e].targetPath) != 0);
        }
    }
    for (const DeltaEntry& e : list.launcherDeltas) checkEntry(e, true);
}

bool sameEntry(const DeltaEntry& a, const DeltaEntry& b) {
    return a.hasBase == b.hasBase && (!a.hasBase || memcmp(a.baseSha256, b.baseSha256, kSha256Size) == 0) &&
           memcmp(a.targetSha256, b.targetSha256, kSha256Size) == 0 && a.targetSize == b.targetSize &&
           memcmp(a.payloadSha256, b.payloadSha256, kSha256Size) == 0 && a.payloadSize == b.payloadSize &&
           strcmp(a.payloadPath, b.payloadPath) == 0 && strcmp(a.targetPath, b.targetPath) == 0;
}

const DeltaEntry* findTarget(const DeltaStep& step, const char* target) {
    for (const DeltaEntry& e : step.entries)
        if (strcmp(e.targetPath, target) == 0) return &e;
    return nullptr;
}

// The body written again from the values read has the signed span's length (the writer only sorts
// entries) and reads back to the same values.
void checkRoundTrip(const std::vector<char>& text, size_t length, const DeltaList& list) {
    std::string body = formatDeltaListBody(list);
    bool lastLineOpen = !list.isSigned && length > 0 && text[length - 1] != '\n';
    FUZZ_CHECK(body.size() == list.signedLength + (lastLineOpen ? 1 : 0));
    DeltaList again;
    FUZZ_CHECK(parseDeltaList(body.data(), body.size(), &again, IndexSignature::Optional));
    FUZZ_CHECK(again.steps.size() == list.steps.size() && again.launcherDeltas.size() == list.launcherDeltas.size());
    for (size_t s = 0; s < list.steps.size(); ++s) {
        const DeltaStep& step = list.steps[s];
        const DeltaStep& other = again.steps[s];
        FUZZ_CHECK(other.version == step.version && strcmp(other.archiveName, step.archiveName) == 0);
        FUZZ_CHECK(memcmp(other.archiveSha256, step.archiveSha256, kSha256Size) == 0);
        FUZZ_CHECK(other.entries.size() == step.entries.size());
        for (const DeltaEntry& e : step.entries) {
            const DeltaEntry* read = findTarget(other, e.targetPath);
            FUZZ_CHECK(read != nullptr && sameEntry(*read, e));
        }
    }
    for (size_t l = 0; l < list.launcherDeltas.size(); ++l)
        FUZZ_CHECK(sameEntry(again.launcherDeltas[l], list.launcherDeltas[l]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);  // no terminator: the reader must stay inside `size`
    DeltaList required;
    bool signedRead = parseDeltaList(text.data(), size, &required, IndexSignature::Required);
    DeltaList optional;
    bool optionalRead = parseDeltaList(text.data(), size, &optional, IndexSignature::Optional);
    FUZZ_CHECK(!signedRead || optionalRead);
    if (signedRead) {
        FUZZ_CHECK(required.isSigned && required.signedLength < size);
        checkList(required);
        checkRoundTrip(text, size, required);
    }
    if (optionalRead) {
        FUZZ_CHECK(optional.signedLength <= size);
        checkList(optional);
        checkRoundTrip(text, size, optional);
    }
    return 0;
}
