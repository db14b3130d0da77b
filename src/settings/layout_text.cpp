// Hand-written scans of the layout texts, so that the stop rule and the face-length limit are exact
// and the same on every C runtime (sscanf leaves overflow and over-long tokens to the library).
#include "settings/layout_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

const char* skipBlanks(const char* p) {
    while (*p && isBlank(*p)) ++p;
    return p;
}

// "%d": optional sign and decimal digits; out-of-range values clamp to the 32-bit limits.
bool readDecimal(const char** cursor, int32_t* value) {
    const char* start = skipBlanks(*cursor);
    char* end = nullptr;
    errno = 0;
    long long parsed = strtoll(start, &end, 10);
    if (end == start) return false;
    if (parsed > INT32_MAX) parsed = INT32_MAX;
    if (parsed < INT32_MIN) parsed = INT32_MIN;
    *value = static_cast<int32_t>(parsed);
    *cursor = end;
    return true;
}

// "%x": optional sign, optional 0x/0X, hexadecimal digits; the low 32 bits are kept, as a 32-bit
// unsigned conversion would store them.
bool readHex(const char** cursor, uint32_t* value) {
    const char* start = skipBlanks(*cursor);
    char* end = nullptr;
    unsigned long long parsed = strtoull(start, &end, 16);
    if (end == start) return false;
    *value = static_cast<uint32_t>(parsed);
    *cursor = end;
    return true;
}

// "%s" into a fixed field: the whole token is consumed, at most size - 1 characters are kept.
bool readToken(const char** cursor, char* field, size_t size) {
    const char* start = skipBlanks(*cursor);
    const char* end = start;
    while (*end && !isBlank(*end)) ++end;
    if (end == start) return false;
    size_t length = static_cast<size_t>(end - start);
    if (length > size - 1) length = size - 1;
    memcpy(field, start, length);
    field[length] = '\0';
    *cursor = end;
    return true;
}

}  // namespace

int scanStatusStyle(const char* text, StatusStyle* style) {
    const char* cursor = text;
    uint32_t secondColour = 0;
    if (!readDecimal(&cursor, &style->x)) return 0;
    if (!readDecimal(&cursor, &style->y)) return 1;
    if (!readHex(&cursor, &style->colour)) return 2;
    if (!readHex(&cursor, &secondColour)) return 3;
    if (!readToken(&cursor, style->face, sizeof style->face)) return 4;
    if (!readDecimal(&cursor, &style->fontHeight)) return 5;
    return 6;
}

int scanPosition(const char* text, int32_t* x, int32_t* y) {
    const char* cursor = text;
    if (!readDecimal(&cursor, x)) return 0;
    if (!readDecimal(&cursor, y)) return 1;
    return 2;
}
