// The speed choices and the one-line text of the per-user speed file: "download_limit_bytes_per_second=<n>".
#include "settings/speed_limit_text.h"

#include <cstdio>
#include <cstring>

const SpeedChoice kSpeedChoices[kSpeedChoiceCount] = {
    {0, "Unlimited"},
    {20 * kBytesPerMegabyte, "20 MB/s"},
    {10 * kBytesPerMegabyte, "10 MB/s"},
    {5 * kBytesPerMegabyte, "5 MB/s"},
    {2 * kBytesPerMegabyte, "2 MB/s"},
    {1 * kBytesPerMegabyte, "1 MB/s"},
};

namespace {

const char kKey[] = "download_limit_bytes_per_second=";
const size_t kMaxDigits = 12;  // well past the largest choice, and far from overflow

// Digits, then the line's end ("\n" or "\r\n") and nothing after it; false for anything else.
bool readLineNumber(const char* text, size_t size, long long* value) {
    long long number = 0;
    size_t digits = 0;
    size_t at = 0;
    while (at < size && text[at] >= '0' && text[at] <= '9') {
        if (++digits > kMaxDigits) return false;
        number = number * 10 + (text[at] - '0');
        ++at;
    }
    if (digits == 0) return false;
    // The line's end is required: a file cut inside its number ("1000000" of "10000000") must not
    // read as another choice.
    if (at < size && text[at] == '\r') ++at;
    if (at >= size || text[at] != '\n') return false;
    if (at + 1 != size) return false;
    *value = number;
    return true;
}

}  // namespace

int speedChoiceIndex(long long bytesPerSecond) {
    for (int i = 0; i < kSpeedChoiceCount; ++i) {
        if (kSpeedChoices[i].bytesPerSecond == bytesPerSecond) return i;
    }
    return -1;
}

long long parseSpeedLimitText(const char* text, size_t size) {
    const size_t keyLength = sizeof kKey - 1;
    if (text == nullptr || size <= keyLength || memcmp(text, kKey, keyLength) != 0) return 0;
    long long value = 0;
    if (!readLineNumber(text + keyLength, size - keyLength, &value)) return 0;
    return speedChoiceIndex(value) >= 0 ? value : 0;
}

bool formatSpeedLimitText(long long bytesPerSecond, char* text, size_t size) {
    if (speedChoiceIndex(bytesPerSecond) < 0) return false;
    int written = snprintf(text, size, "%s%lld\n", kKey, bytesPerSecond);
    return written > 0 && static_cast<size_t>(written) < size;
}
