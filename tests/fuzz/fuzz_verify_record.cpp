// Fuzzes the verification record reader, which takes whatever a crash, a disk error or a user left in
// "verify.dat": a refused record is empty with serial 0; an accepted one holds safe paths in strictly
// ascending order and is exactly the text the writer makes for its values, check line included, so no
// damaged record can pass for a verified one. Each input is also read with a right check line
// appended, so the lines behind the check are fuzzed too.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "formats/path_check.h"
#include "formats/verify_record.h"

namespace {

void checkRead(const std::string& text) {
    std::vector<char> bytes(text.begin(), text.end());  // no terminator: the reader must stay inside
    VerifyRecord record;
    record.acceptedSerial = 1;
    if (!parseVerifyRecord(bytes.data(), bytes.size(), &record)) {
        FUZZ_CHECK(record.acceptedSerial == 0 && record.files.empty());
        return;
    }
    FUZZ_CHECK(record.acceptedSerial <= static_cast<uint64_t>(INT64_MAX));
    for (size_t i = 0; i < record.files.size(); ++i) {
        const VerifiedFile& f = record.files[i];
        FUZZ_CHECK(isTerminated(f.path, kIndexPathSize) && isSafeRelativePath(f.path) && isValidUtf8(f.path));
        FUZZ_CHECK(i == 0 || strcmp(record.files[i - 1].path, f.path) < 0);
        FUZZ_CHECK(findVerifiedFile(record, f.path) == &f);
    }
    FUZZ_CHECK(formatVerifyRecord(record) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    checkRead(text);
    checkRead(text + formatVerifyCheckLine(text.data(), text.size()));
    return 0;
}
