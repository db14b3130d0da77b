// A token bucket that paces a transfer's reads to a number of bytes per second. Free of Windows
// headers: the caller brings the clock, so tests drive it with one of their own.
#pragma once

// Unlimited: no bucket at all, so a transfer without a limit pays nothing but one comparison.
const long long kUnlimitedRate = 0;

struct RateLimiter {
    long long bytesPerSecond;     // the rate the bucket was last filled at; kUnlimitedRate before the first use
    long long tokens;             // bytes that may still be read at once; below zero, bytes owed
    long long milliBytes;         // the fraction of a byte earned but not yet credited, in 1/1000 bytes
    unsigned long long lastMs;    // when the bucket was last filled
};

void resetRateLimiter(RateLimiter* limiter);

// Takes `bytes` just read at `nowMs` from the bucket and answers how many milliseconds the reader
// must wait before its next read to stay within `bytesPerSecond` (kUnlimitedRate or below: 0, and
// the bucket starts empty when a limit is set again). A changed rate applies from this call on.
unsigned long long rateLimiterDelayMs(RateLimiter* limiter, long long bytesPerSecond, unsigned long long nowMs,
                                      long long bytes);
