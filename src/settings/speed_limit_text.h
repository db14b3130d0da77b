// The download speed choices the player is offered and the text of the per-user file that keeps the
// one chosen. Free of Windows headers: the file is the player's, and a damaged one must read safely.
#pragma once
#include <cstddef>

// One megabyte here is 1,000,000 bytes, as network speeds are counted.
const long long kBytesPerMegabyte = 1000000;

enum { kSpeedChoiceCount = 6, kSpeedLimitTextSize = 64 };

struct SpeedChoice {
    long long bytesPerSecond;  // 0: unlimited
    const char* label;         // as the menu shows it
};

// In menu order, Unlimited first.
extern const SpeedChoice kSpeedChoices[kSpeedChoiceCount];

// The choice's index for a rate; -1 when the rate is not one of them.
int speedChoiceIndex(long long bytesPerSecond);

// Reads the file's content (not zero-terminated). Only a whole, well-formed line naming one of the
// choices, newline included, is taken; anything else (empty, cut, another number, stray bytes) reads
// as unlimited, so a damaged file can never throttle the player to a rate nobody chose.
long long parseSpeedLimitText(const char* text, size_t size);

// The file's content for a choice; false when the rate is not one of the choices or does not fit.
bool formatSpeedLimitText(long long bytesPerSecond, char* text, size_t size);
