// Windows path rules for names that come from the patch server: a name must stay inside the
// launcher's folder and name the same file there that its text says, whatever Windows does with it.
#include "formats/path_check.h"

#include <cstddef>
#include <cstring>

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Characters Windows refuses in file names, and ':' which would name a drive or an alternate stream.
// Control characters are refused too; they have no business in a patch file name.
bool isForbiddenCharacter(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || strchr("<>:\"|?*", c) != nullptr;
}

char toUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(const char* part, size_t length, const char* word) {
    size_t wordLength = strlen(word);
    if (length != wordLength) return false;
    for (size_t i = 0; i < length; ++i)
        if (toUpperAscii(part[i]) != word[i]) return false;
    return true;
}

// COM and LPT take the superscript digits 1 to 3 as well: "\xb9", "\xb2", "\xb3" in the ANSI code
// page of western Windows, "\xc2\xb9" and so on in UTF-8.
bool isSuperscriptDigit(const char* text, size_t length) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(text);
    size_t at = (length == 2 && u[0] == 0xc2) ? 1 : 0;
    if (length != at + 1) return false;
    return u[at] == 0xb9 || u[at] == 0xb2 || u[at] == 0xb3;
}

// Windows maps CON, NUL, COM1 and friends to devices in every folder, also with an extension
// ("nul.txt"), so such a part would write to a device instead of a file. It drops blanks and dots
// at the end of the text before the extension too, so "nul .dat" and "COM1 . .bin" are devices.
bool isReservedDeviceName(const char* part, size_t length) {
    size_t base = 0;
    while (base < length && part[base] != '.') ++base;
    while (base > 0 && (part[base - 1] == ' ' || part[base - 1] == '.')) --base;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
                                          "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
                                          "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    for (const char* device : devices)
        if (equalsIgnoringCase(part, base, device)) return true;
    const size_t kPortWordLength = 3;
    return base > kPortWordLength &&
           (equalsIgnoringCase(part, kPortWordLength, "COM") || equalsIgnoringCase(part, kPortWordLength, "LPT")) &&
           isSuperscriptDigit(part + kPortWordLength, base - kPortWordLength);
}

// One part between separators. Windows strips trailing dots and blanks from a part, so "x." is "x"
// and ". ." or "..." may act as a parent reference: any part ending in either is refused, which also
// covers "." and "..".
bool isSafePart(const char* part, size_t length) {
    if (length == 0) return false;
    char last = part[length - 1];
    if (last == '.' || last == ' ') return false;
    for (size_t i = 0; i < length; ++i)
        if (isForbiddenCharacter(part[i])) return false;
    return !isReservedDeviceName(part, length);
}

}  // namespace

// Bytes are checked one by one, so in a double-byte code page a trail byte 0x5C counts as a
// separator here while Windows does not split there: that can only make this check stricter.
bool isSafeRelativePath(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    size_t length = strnlen(name, kMaxSafePathLength + 1);
    if (length > kMaxSafePathLength) return false;
    // A leading separator means the drive root, "\\server", "\\?\" or "\\.\": never inside the folder.
    if (isSeparator(name[0])) return false;

    size_t partStart = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && !isSeparator(name[i])) continue;
        bool trailingSeparator = (i == length && partStart == length);
        if (!trailingSeparator && !isSafePart(name + partStart, i - partStart)) return false;
        partStart = i + 1;
    }
    return true;
}

bool isValidUtf8(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned char lead = *p++;
        if (lead < 0x80) continue;
        int trail;
        unsigned int minimum;
        unsigned int code;
        if (lead >= 0xc2 && lead <= 0xdf) {
            trail = 1, minimum = 0x80, code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            trail = 2, minimum = 0x800, code = lead & 0x0f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            trail = 3, minimum = 0x10000, code = lead & 0x07;
        } else {
            return false;
        }
        for (int i = 0; i < trail; ++i, ++p) {
            if ((*p & 0xc0) != 0x80) return false;
            code = (code << 6) | (*p & 0x3f);
        }
        if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
    }
    return true;
}
