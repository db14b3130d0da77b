// Content-Range of a 206 answer, read whole: a part that covers less than the rest of the file is
// never taken for the rest.
#include "network/content_range.h"

#include <cstring>

namespace {

enum { kMaxDigits = 18 };  // below 2^63, so the value never overflows

bool readNumber(const char** text, long long* value) {
    const char* c = *text;
    long long number = 0;
    int digits = 0;
    while (*c >= '0' && *c <= '9') {
        if (++digits > kMaxDigits) return false;
        number = number * 10 + (*c - '0');
        ++c;
    }
    if (digits == 0) return false;
    *value = number;
    *text = c;
    return true;
}

bool expect(const char** text, char wanted) {
    if (**text != wanted) return false;
    ++*text;
    return true;
}

void skipBlanks(const char** text) {
    while (**text == ' ' || **text == '\t') ++*text;
}

}  // namespace

bool parseContentRange(const char* text, ContentRange* range) {
    const char kUnit[] = "bytes";
    skipBlanks(&text);
    if (strncmp(text, kUnit, sizeof kUnit - 1) != 0) return false;
    text += sizeof kUnit - 1;
    if (*text != ' ' && *text != '\t') return false;
    skipBlanks(&text);
    ContentRange parsed{};
    if (!readNumber(&text, &parsed.first) || !expect(&text, '-') || !readNumber(&text, &parsed.last) ||
        !expect(&text, '/') || !readNumber(&text, &parsed.total))
        return false;
    skipBlanks(&text);
    if (*text != '\0' || parsed.first > parsed.last || parsed.last >= parsed.total) return false;
    *range = parsed;
    return true;
}

bool rangeCompletesFile(const ContentRange& range, long long held, long long bodyLength, long long expectedSize) {
    if (range.first != held || range.last != range.total - 1) return false;
    if (bodyLength != range.last - range.first + 1) return false;
    return expectedSize <= 0 || range.total == expectedSize;
}
