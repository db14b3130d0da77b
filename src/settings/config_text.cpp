// The plain text of the configuration file: "[Version] %d\n" when written, and the lenient
// two-token reading of whatever a deciphered file holds.
#include "settings/config_text.h"

#include <cstdint>
#include <cstdio>

namespace {

const char kVersionKey[] = "[Version]";

// The white-space set of the C locale's isspace, fixed so that bytes above 0x7F never count.
bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Copies the next token into field (at most kConfigTokenSize - 1 characters), skipping what does not fit.
size_t takeToken(const unsigned char* text, size_t length, size_t position, char* field) {
    while (position < length && text[position] != 0 && isBlank(text[position])) ++position;
    size_t kept = 0;
    while (position < length && text[position] != 0 && !isBlank(text[position])) {
        if (kept < kConfigTokenSize - 1) field[kept++] = static_cast<char>(text[position]);
        ++position;
    }
    field[kept] = '\0';
    return position;
}

}  // namespace

int formatConfigText(char* out, size_t size, int32_t version) {
    int written = snprintf(out, size, "[Version] %d\n", static_cast<int>(version));
    if (written < 0 || static_cast<size_t>(written) >= size) return -1;
    return written;
}

void scanConfigTokens(const unsigned char* text, size_t length, ConfigTokens& tokens) {
    size_t position = takeToken(text, length, 0, tokens.key);
    takeToken(text, length, position, tokens.value);
}

// ASCII folding rather than the user's locale: the key is plain ASCII, and a locale compare would make
// the same file usable or not depending on the player's language (the Turkish dotless i, say).
bool isVersionKey(const char* token) {
    size_t i = 0;
    for (; kVersionKey[i] != '\0'; ++i) {
        if (foldCase(token[i]) != foldCase(kVersionKey[i])) return false;
    }
    return token[i] == '\0';
}

int32_t parseVersionValue(const char* token) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(token);
    while (isBlank(*p)) ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    int64_t magnitude = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

ConfigTextResult parseConfigText(const unsigned char* text, size_t length, int32_t& version) {
    ConfigTokens tokens;
    scanConfigTokens(text, length, tokens);
    if (!isVersionKey(tokens.key)) return ConfigTextResult::KeyIncorrect;
    version = parseVersionValue(tokens.value);
    return version != 0 ? ConfigTextResult::Usable : ConfigTextResult::VersionMissing;
}
