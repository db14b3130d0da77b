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

// The size of a transfer's next read. A read blocks until it has its whole size (WinINet fills the
// buffer), so on a slow line a large read would hold off a pause for seconds: after a read slower
// than a quarter second the size is halved, after a quick one it doubles again, between 4 KiB and
// the buffer's size. A fast line keeps reading whole buffers. nextReadSize(0, 0, size) is the smallest.
unsigned nextReadSize(unsigned current, unsigned long long lastReadMs, unsigned bufferSize);
