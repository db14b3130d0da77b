// Fuzzes the layout scanning of the style and position texts: a scan answers how many fields it
// converted, never touches the fields after a mismatch, and keeps the font face terminated.
#include <climits>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "settings/layout_text.h"

namespace {

const int32_t kUntouched = 0x5a5a5a5a;

void checkStyle(const char* text) {
    std::unique_ptr<StatusStyle> style(new StatusStyle);
    style->x = style->y = style->fontHeight = kUntouched;
    style->colour = static_cast<uint32_t>(kUntouched);
    memset(style->face, 'Q', sizeof style->face - 1);
    style->face[sizeof style->face - 1] = '\0';
    int count = scanStatusStyle(text, style.get());
    FUZZ_CHECK(count >= 0 && count <= 6);
    FUZZ_CHECK(isTerminated(style->face, sizeof style->face));
    // Fields 5 (the face) and 6 (the height) keep their old values unless the scan reached them.
    if (count < 5) FUZZ_CHECK(strcmp(style->face, std::string(sizeof style->face - 1, 'Q').c_str()) == 0);
    if (count < 6) FUZZ_CHECK(style->fontHeight == kUntouched);
    if (count < 2) FUZZ_CHECK(style->y == kUntouched);
    if (count < 1) FUZZ_CHECK(style->x == kUntouched);
}

void checkPosition(const char* text) {
    int32_t x = kUntouched;
    int32_t y = kUntouched;
    int count = scanPosition(text, &x, &y);
    FUZZ_CHECK(count >= 0 && count <= 2);
    if (count < 2) FUZZ_CHECK(y == kUntouched);
    if (count < 1) FUZZ_CHECK(x == kUntouched);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text = zeroTerminatedCopy(data, size);
    checkStyle(text.data());
    checkPosition(text.data());
    return 0;
}
