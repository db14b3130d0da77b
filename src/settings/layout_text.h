// Scanning of the layout texts: the status-line style record and the button/bar position records.
// Free of <windows.h>; each scan stops at the first token that does not match and keeps later fields.
#pragma once
#include <cstdint>

enum { kFontFaceSize = 32 };

// The status-line look as the style text "x y colour secondColour face height" gives it.
struct StatusStyle {
    int32_t x;
    int32_t y;
    uint32_t colour;  // COLORREF, 0x00BBGGRR
    char face[kFontFaceSize];
    int32_t fontHeight;
};

// Scans like sscanf "%d %d %x %x %s %d" into style (the second colour is read and dropped). Fields
// before the first mismatch take their new values; the mismatching one and all after it keep theirs.
// A face of 32 or more characters is cut to its first 31 and the scan goes on with the height.
// Numbers beyond 32 bits are clamped (decimal) or keep their low 32 bits (hexadecimal).
// Answers the number of conversions made (0 to 6).
int scanStatusStyle(const char* text, StatusStyle* style);

// Scans like sscanf "%d %d" into x and y, with the same stop-at-first-mismatch rule. Answers 0 to 2.
int scanPosition(const char* text, int32_t* x, int32_t* y);
