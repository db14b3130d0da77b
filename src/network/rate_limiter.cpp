// Paces reads to a byte rate. The bucket holds at most a quarter second's bytes, so a reader that
// stalled (a slow server, a pause) cannot make up for it later with a burst past the limit.
#include "network/rate_limiter.h"

namespace {

const long long kBurstDivisor = 4;
const long long kMillisecondsPerSecond = 1000;

long long burstOf(long long bytesPerSecond) { return bytesPerSecond / kBurstDivisor; }

// Credits what the time since the last fill earned, carrying the fraction of a byte along so that a
// rate that is not a multiple of 1000 loses nothing over many short reads.
void fillBucket(RateLimiter* limiter, unsigned long long nowMs) {
    unsigned long long elapsed = nowMs > limiter->lastMs ? nowMs - limiter->lastMs : 0;
    limiter->lastMs = nowMs;
    long long burst = burstOf(limiter->bytesPerSecond);
    if (limiter->tokens >= burst) return;
    // A long gap fills the bucket whatever it owed; capping the gap first keeps the product in range.
    const unsigned long long kLongGapMs = 1000ull * 1000ull;
    if (elapsed > kLongGapMs) elapsed = kLongGapMs;
    long long earned = static_cast<long long>(elapsed) * limiter->bytesPerSecond + limiter->milliBytes;
    limiter->tokens += earned / kMillisecondsPerSecond;
    limiter->milliBytes = earned % kMillisecondsPerSecond;
    if (limiter->tokens >= burst) {
        limiter->tokens = burst;
        limiter->milliBytes = 0;
    }
}

}  // namespace

void resetRateLimiter(RateLimiter* limiter) { *limiter = RateLimiter{kUnlimitedRate, 0, 0, 0}; }

unsigned long long rateLimiterDelayMs(RateLimiter* limiter, long long bytesPerSecond, unsigned long long nowMs,
                                      long long bytes) {
    if (bytesPerSecond <= kUnlimitedRate) {
        resetRateLimiter(limiter);
        return 0;
    }
    if (limiter->bytesPerSecond <= kUnlimitedRate) {
        // A limit newly set starts from an empty bucket: nothing saved up while unlimited counts.
        *limiter = RateLimiter{bytesPerSecond, 0, 0, nowMs};
    } else {
        fillBucket(limiter, nowMs);
        if (bytesPerSecond != limiter->bytesPerSecond) {
            limiter->bytesPerSecond = bytesPerSecond;
            if (limiter->tokens > burstOf(bytesPerSecond)) limiter->tokens = burstOf(bytesPerSecond);
        }
    }
    limiter->tokens -= bytes;
    if (limiter->tokens >= 0) return 0;
    long long owedMilliBytes = -limiter->tokens * kMillisecondsPerSecond - limiter->milliBytes;
    if (owedMilliBytes <= 0) return 0;
    return static_cast<unsigned long long>((owedMilliBytes + bytesPerSecond - 1) / bytesPerSecond);
}

unsigned nextReadSize(unsigned current, unsigned long long lastReadMs, unsigned bufferSize) {
    const unsigned long long kSlowReadMs = 250;
    const unsigned long long kQuickReadMs = 50;
    const unsigned kSmallestRead = 4096;
    unsigned smallest = bufferSize < kSmallestRead ? bufferSize : kSmallestRead;
    unsigned size = current;
    if (lastReadMs > kSlowReadMs) size = current / 2;
    else if (lastReadMs < kQuickReadMs) size = current > bufferSize / 2 ? bufferSize : current * 2;
    if (size < smallest) size = smallest;
    return size > bufferSize ? bufferSize : size;
}
