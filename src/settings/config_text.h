// The plain text of the configuration file: "[Version] %d\n" when written, and the lenient
// two-token reading of whatever a deciphered file holds.
#pragma once
#include <cstddef>
#include <cstdint>

enum { kConfigTokenSize = 256 };

enum class ConfigTextResult { Usable, KeyIncorrect, VersionMissing };

struct ConfigTokens {
    char key[kConfigTokenSize];
    char value[kConfigTokenSize];
};

// Writes "[Version] <version>\n" into out; answers its length, or -1 when it does not fit.
int formatConfigText(char* out, size_t size, int32_t version);

// Splits the first `length` bytes into two white-space-separated tokens, like "%s %s\n". A token
// longer than 255 characters is cut there (the rest of it is skipped); an absent token is empty.
// A zero byte ends the text.
void scanConfigTokens(const unsigned char* text, size_t length, ConfigTokens& tokens);

// "[Version]" in any letter case (ASCII case folding).
bool isVersionKey(const char* token);

// Decimal value in the manner of atoi: optional blanks and sign, leading digits, no digits give 0.
// Values beyond the 32-bit range saturate.
int32_t parseVersionValue(const char* token);

// Reads a deciphered text. The version is stored whenever the key matched (0 for no digits);
// Usable means the key matched and the version is not 0.
ConfigTextResult parseConfigText(const unsigned char* text, size_t length, int32_t& version);
