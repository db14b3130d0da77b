// Fuzzes the Content-Range reader of partial answers: an accepted header gives 0 <= first <= last <
// total and reads back the same from its canonical form; a part taken as the rest of a file starts at
// the held bytes, ends at the file's last byte and carries exactly the bytes between.
#include "fuzz_support.h"
#include "network/content_range.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first two bytes pick the held size and the body length relative to the parsed range.
    long long heldShift = static_cast<int8_t>(data[0]);
    long long bodyShift = static_cast<int8_t>(data[1]);
    std::vector<char> text = zeroTerminatedCopy(data + 2, size - 2);
    ContentRange range;
    if (!parseContentRange(text.data(), &range)) return 0;
    FUZZ_CHECK(range.first >= 0 && range.first <= range.last && range.last < range.total);

    char canonical[96];
    snprintf(canonical, sizeof canonical, "bytes %lld-%lld/%lld", range.first, range.last, range.total);
    ContentRange again;
    FUZZ_CHECK(parseContentRange(canonical, &again));
    FUZZ_CHECK(again.first == range.first && again.last == range.last && again.total == range.total);

    long long held = range.first + (heldShift % 3 == 0 ? 0 : heldShift);
    long long body = range.last - range.first + 1 + (bodyShift % 3 == 0 ? 0 : bodyShift);
    if (rangeCompletesFile(range, held, body, 0)) {
        FUZZ_CHECK(held == range.first && range.last == range.total - 1);
        FUZZ_CHECK(held + body == range.total);
        FUZZ_CHECK(!rangeCompletesFile(range, held, body, range.total + 1));
    }
    return 0;
}
