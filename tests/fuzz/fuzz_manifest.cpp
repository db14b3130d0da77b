// Fuzzes the manifest parser through both of its doors: the file reader (pieces, overlong lines)
// and the line reader, and checks what the launcher relies on in the filled state afterwards.
#include <cstdio>
#include <memory>

#include "fuzz_support.h"
#include "formats/manifest_text.h"

namespace {

// Each field on the heap with its exact size, so that any overrun is caught by AddressSanitizer.
struct Fields {
    std::unique_ptr<char[]> installer{new char[kVersionTextSize]()};
    std::unique_ptr<char[]> launcher{new char[kVersionTextSize]()};
    std::unique_ptr<VersionStep[]> steps{new VersionStep[kMaxVersionSteps]()};
    std::unique_ptr<char[][kMirrorUrlSize]> mirrors{new char[kMaxMirrors][kMirrorUrlSize]()};
    int serverGameVersion = 0;
    int totalFileCount = 0;
    int mirrorCount = -1;

    // Without the mirror slots as well: the list must never change what the other sections read.
    ManifestTargets targets(bool withMirrors = true) {
        return {installer.get(), launcher.get(), &serverGameVersion, steps.get(), &totalFileCount, nullptr,
                withMirrors ? mirrors.get() : nullptr, withMirrors ? &mirrorCount : nullptr};
    }
};

bool hasWhiteSpace(const char* text) {
    for (; *text; ++text)
        if (strchr(" \t\n\v\f\r", *text)) return true;
    return false;
}

void checkFields(const Fields& fields, int localGameVersion) {
    FUZZ_CHECK(isTerminated(fields.installer.get(), kVersionTextSize));
    FUZZ_CHECK(isTerminated(fields.launcher.get(), kVersionTextSize));
    FUZZ_CHECK(!hasWhiteSpace(fields.installer.get()) && !hasWhiteSpace(fields.launcher.get()));
    int sum = 0;
    bool ended = false;
    for (int s = 0; s < kMaxVersionSteps; ++s) {
        const VersionStep& step = fields.steps[s];
        // With a negative installed version a line without a number is stored as a step of
        // version 0 (as the format reads it), so only then may a zero slot sit inside the table.
        if (step.version == 0 && localGameVersion >= 0) ended = true;
        if (ended) {
            FUZZ_CHECK(step.version == 0 && step.fileCount == 0);
            continue;
        }
        FUZZ_CHECK(step.version > localGameVersion);
        FUZZ_CHECK(step.fileCount >= 0 && step.fileCount <= kMaxStepFiles);
        for (int f = 0; f < kMaxStepFiles; ++f) {
            FUZZ_CHECK(isTerminated(step.files[f], kStepFileNameSize));
            FUZZ_CHECK((f < step.fileCount) == (step.files[f][0] != '\0'));
            FUZZ_CHECK(!hasWhiteSpace(step.files[f]));
        }
        sum += step.fileCount;
    }
    FUZZ_CHECK(sum == fields.totalFileCount);
    FUZZ_CHECK(fields.mirrorCount >= 0 && fields.mirrorCount <= kMaxMirrors);
    for (int m = 0; m < fields.mirrorCount; ++m) {
        FUZZ_CHECK(isTerminated(fields.mirrors[m], kMirrorUrlSize));
        FUZZ_CHECK(isMirrorUrl(fields.mirrors[m]));
    }
}

bool sameSteps(const Fields& a, const Fields& b) {
    return strcmp(a.installer.get(), b.installer.get()) == 0 && strcmp(a.launcher.get(), b.launcher.get()) == 0 &&
           a.serverGameVersion == b.serverGameVersion && a.totalFileCount == b.totalFileCount &&
           memcmp(a.steps.get(), b.steps.get(), sizeof(VersionStep) * kMaxVersionSteps) == 0;
}

void readAsFile(const uint8_t* data, size_t size, int localGameVersion) {
    Fields fields, withoutMirrors;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) return;
    readManifestFile(file, fields.targets(), localGameVersion);
    rewind(file);
    readManifestFile(file, withoutMirrors.targets(false), localGameVersion);
    rewind(file);
    for (const std::string& problem : mirrorSectionProblems(file)) FUZZ_CHECK(!problem.empty());
    fclose(file);
    checkFields(fields, localGameVersion);
    FUZZ_CHECK(sameSteps(fields, withoutMirrors));
}

// Every line handed over on its own heap copy, as the launcher's reader does with its pieces.
void readAsLines(const uint8_t* data, size_t size, int localGameVersion) {
    Fields fields;
    ManifestReader reader;
    beginManifest(&reader, fields.targets(), localGameVersion);
    size_t start = 0;
    while (start < size) {
        const uint8_t* end = static_cast<const uint8_t*>(memchr(data + start, '\n', size - start));
        size_t length = end ? static_cast<size_t>(end - (data + start)) + 1 : size - start;
        std::vector<char> line = zeroTerminatedCopy(data + start, length);
        FUZZ_CHECK(reader.storedSteps >= 0 && reader.storedSteps <= kMaxVersionSteps);
        readManifestLine(&reader, line.data());
        start += length;
    }
    checkFields(fields, localGameVersion);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int localVersions[] = {0, 10002, -2147483647 - 1};
    for (int local : localVersions) {
        readAsFile(data, size, local);
        readAsLines(data, size, local);
    }
    return 0;
}
