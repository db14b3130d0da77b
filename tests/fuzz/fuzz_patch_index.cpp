// Fuzzes the patch index reader, which takes the server's "PatchIndex.txt": whatever it accepts must
// hold only names the launcher may write, and must be exactly what the publisher would write for
// those values, so a signature over the text covers everything the launcher then believes.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "formats/patch_index.h"
#include "formats/path_check.h"

namespace {

bool samePaths(const PatchIndex& index, const PatchIndex& again) {
    if (index.files.size() != again.files.size()) return false;
    for (const PatchIndexFile& file : index.files) {
        const PatchIndexFile* other = findPatchIndexFile(again, file.path);
        if (other == nullptr || other->size != file.size || memcmp(other->sha256, file.sha256, kSha256Size) != 0)
            return false;
    }
    return true;
}

void checkFiles(const PatchIndex& index) {
    for (const PatchIndexFile& file : index.files) {
        FUZZ_CHECK(isTerminated(file.path, kIndexPathSize));
        FUZZ_CHECK(isSafeRelativePath(file.path) && strchr(file.path, '\\') == nullptr);
        FUZZ_CHECK(file.size <= static_cast<uint64_t>(INT64_MAX));
        FUZZ_CHECK(findPatchIndexFile(index, file.path) == &file);  // no path given twice
    }
}

// The signed span written again from the values read has the same length (the writer only sorts the
// lines), reads back to the same values, and a signed text ends in exactly the signature line.
void checkRoundTrip(const std::vector<char>& text, size_t length, const PatchIndex& index) {
    std::string body = formatPatchIndexBody(index.manifestSha256, index.files);
    size_t textBody = index.signedLength;
    bool lastLineOpen = !index.isSigned && length > 0 && text[length - 1] != '\n';
    FUZZ_CHECK(body.size() == textBody + (lastLineOpen ? 1 : 0));
    if (index.isSigned) {
        std::string line = formatSignatureLine(index.signature);
        std::string tail(text.data() + textBody, length - textBody);
        FUZZ_CHECK(tail == line || tail + "\n" == line);
        body += line;
    }
    PatchIndex again;
    FUZZ_CHECK(parsePatchIndex(body.data(), body.size(), &again, IndexSignature::Optional));
    FUZZ_CHECK(again.isSigned == index.isSigned);
    FUZZ_CHECK(memcmp(again.manifestSha256, index.manifestSha256, kSha256Size) == 0);
    FUZZ_CHECK(samePaths(index, again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);  // no terminator: the reader must stay inside `size`
    PatchIndex required;
    bool signedRead = parsePatchIndex(text.data(), size, &required, IndexSignature::Required);
    PatchIndex optional;
    bool optionalRead = parsePatchIndex(text.data(), size, &optional, IndexSignature::Optional);
    FUZZ_CHECK(!signedRead || optionalRead);  // a signed index is also a readable unsigned one
    if (signedRead) {
        FUZZ_CHECK(required.isSigned && required.signedLength < size);
        checkFiles(required);
        checkRoundTrip(text, size, required);
    }
    if (optionalRead) {
        FUZZ_CHECK(optional.signedLength <= size);
        checkFiles(optional);
        checkRoundTrip(text, size, optional);
    }
    return 0;
}
