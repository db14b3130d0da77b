// Fuzzes the per-user speed file's reader: whatever the file holds, the rate read is unlimited or one
// of the offered choices, and a rate read back from its own written form is the same rate.
#include "fuzz_support.h"
#include "settings/speed_limit_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> copy(data, data + size);  // exactly `size` bytes: a read past them is caught
    long long rate = parseSpeedLimitText(copy.data(), copy.size());
    FUZZ_CHECK(speedChoiceIndex(rate) >= 0);
    char text[kSpeedLimitTextSize];
    FUZZ_CHECK(formatSpeedLimitText(rate, text, sizeof text));
    FUZZ_CHECK(parseSpeedLimitText(text, strlen(text)) == rate);
    return 0;
}
