// Fuzzes the whole-build list reader, which takes the server's "PatchBuild.txt": whatever it accepts
// holds only names the launcher may write and that are distinct files on Windows, none of them the
// launcher's own, in the writer's order, and is exactly the text the publisher would write for those
// values, so the signature covers everything the launcher then believes.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "formats/build_list.h"
#include "formats/own_file_names.h"
#include "formats/path_check.h"

namespace {

void checkPath(const char* path) {
    FUZZ_CHECK(isTerminated(path, kIndexPathSize));
    FUZZ_CHECK(isSafeRelativePath(path) && isValidUtf8(path) && strchr(path, '\\') == nullptr);
}

bool sameFoldedAscii(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

// Neither one file to Windows nor a file where the other needs a folder.
void checkDistinct(const char* a, const char* b) {
    size_t la = strlen(a), lb = strlen(b);
    FUZZ_CHECK(!(la == lb && sameFoldedAscii(a, b, la)));
    FUZZ_CHECK(!(la < lb && b[la] == '/' && sameFoldedAscii(a, b, la)));
    FUZZ_CHECK(!(lb < la && a[lb] == '/' && sameFoldedAscii(a, b, lb)));
}

void checkList(const BuildList& list) {
    FUZZ_CHECK(list.serial > 0 && list.serial <= static_cast<uint64_t>(INT64_MAX) && list.version > 0);
    const size_t kPairLimit = 64;  // the pairwise check is quadratic; long lists are covered by their heads
    for (size_t i = 0; i < list.files.size(); ++i) {
        const BuildFile& f = list.files[i];
        checkPath(f.path);
        checkPath(f.payloadPath);
        FUZZ_CHECK(strchr(f.payloadPath, ' ') == nullptr && ownFileNameOf(f.path) == nullptr);
        FUZZ_CHECK(f.size <= static_cast<uint64_t>(INT64_MAX) && f.payloadSize <= static_cast<uint64_t>(INT64_MAX));
        FUZZ_CHECK(i == 0 || strcmp(list.files[i - 1].path, f.path) < 0);
        FUZZ_CHECK(findBuildFile(list, f.path) == &f);
        for (size_t other = 0; other < i && i < kPairLimit; ++other) checkDistinct(list.files[other].path, f.path);
    }
}

// The publisher's text for the values read is the signed span itself (plus the line end an unsigned
// text may lack).
void checkRoundTrip(const std::vector<char>& text, const BuildList& list) {
    std::string body = formatBuildListBody(list);
    std::string span(text.data(), list.signedLength);
    if (!list.isSigned && !span.empty() && span.back() != '\n') span += '\n';
    FUZZ_CHECK(body == span);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);  // no terminator: the reader must stay inside `size`
    BuildList required;
    bool signedRead = parseBuildList(text.data(), size, &required, IndexSignature::Required);
    BuildList optional;
    bool optionalRead = parseBuildList(text.data(), size, &optional, IndexSignature::Optional);
    FUZZ_CHECK(!signedRead || optionalRead);
    if (signedRead) {
        FUZZ_CHECK(required.isSigned && required.signedLength < size);
        checkList(required);
        checkRoundTrip(text, required);
    }
    if (optionalRead) {
        FUZZ_CHECK(optional.signedLength <= size);
        checkList(optional);
        checkRoundTrip(text, optional);
    }
    return 0;
}
