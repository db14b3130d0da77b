// Walking the lines and space-separated fields of the line-based lists (the delta list, the whole-build
// list, the verification record). Free of Windows headers; field rules come from the patch index module.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "formats/patch_index.h"

// Lines end in "\n"; the last line may lack it. `next` refuses nothing: the readers decide.
struct TextLines {
    const char* text;
    size_t length;
    size_t position = 0;

    bool next(const char** line, size_t* lineLength, size_t* lineStart) {
        if (position >= length) return false;
        *line = text + position;
        *lineStart = position;
        const char* newline = static_cast<const char*>(memchr(*line, '\n', length - position));
        *lineLength = newline ? static_cast<size_t>(newline - *line) : length - position;
        position += *lineLength + (newline ? 1 : 0);
        return true;
    }
};

// CR line ends and NUL bytes have no place in any of these texts.
inline bool isPlainLine(const char* line, size_t length) {
    return memchr(line, '\r', length) == nullptr && memchr(line, '\0', length) == nullptr;
}

// The fields of one line; the last field of a line may hold spaces.
struct FieldReader {
    const char* p;
    const char* end;

    bool next(const char** field, size_t* length) {
        const char* space = static_cast<const char*>(memchr(p, ' ', static_cast<size_t>(end - p)));
        if (space == nullptr || space == p) return false;
        *field = p;
        *length = static_cast<size_t>(space - p);
        p = space + 1;
        return true;
    }
    bool rest(const char** field, size_t* length) {
        if (p >= end) return false;
        *field = p;
        *length = static_cast<size_t>(end - p);
        p = end;
        return true;
    }
    // The next field must be exactly `word`.
    bool word(const char* word) {
        const char* field = nullptr;
        size_t length = 0;
        return next(&field, &length) && length == strlen(word) && memcmp(field, word, length) == 0;
    }
    bool hash(uint8_t digest[kSha256Size]) {
        const char* field = nullptr;
        size_t length = 0;
        return next(&field, &length) && parseHex(field, length, digest, kSha256Size);
    }
    bool size(uint64_t* value) {
        const char* field = nullptr;
        size_t length = 0;
        return next(&field, &length) && parseIndexSize(field, length, value);
    }
};
