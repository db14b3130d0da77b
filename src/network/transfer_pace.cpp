// Sleeps a transfer down to the speed limit, in short slices so that a pause is seen at once.
#include "network/transfer_pace.h"

namespace {

const DWORD kWaitSliceMs = 50;

// Written by the UI thread, read by the transfer's: one aligned 32-bit value (the largest choice is far
// below 2^31), so a plain load sees it whole in the 32-bit build too.
volatile LONG gSpeedLimit = kUnlimitedRate;
const long long kLargestLimit = 0x7FFFFFFF;

}  // namespace

void setTransferSpeedLimit(long long bytesPerSecond) {
    if (bytesPerSecond < kUnlimitedRate) bytesPerSecond = kUnlimitedRate;
    if (bytesPerSecond > kLargestLimit) bytesPerSecond = kLargestLimit;
    InterlockedExchange(&gSpeedLimit, static_cast<LONG>(bytesPerSecond));
}

long long transferSpeedLimit() { return gSpeedLimit; }

void beginTransferPace(TransferPace* pace, DWORD bufferSize) {
    resetRateLimiter(&pace->limiter);
    // The first read is the smallest: nothing is known of the line yet, and a fast one doubles back
    // to whole buffers within a few reads.
    pace->readSize = nextReadSize(0, 0, bufferSize);
    pace->readStarted = 0;
}

DWORD startTransferRead(TransferPace* pace) {
    pace->readStarted = GetTickCount64();
    return pace->readSize;
}

void endTransferRead(TransferPace* pace, DWORD bufferSize) {
    pace->readSize = nextReadSize(pace->readSize, GetTickCount64() - pace->readStarted, bufferSize);
}

bool paceTransfer(TransferPace* pace, DWORD bytes, const volatile LONG* pauseRequested) {
    long long limit = transferSpeedLimit();
    if (limit <= kUnlimitedRate && pace->limiter.bytesPerSecond <= kUnlimitedRate) return true;
    unsigned long long waitMs = rateLimiterDelayMs(&pace->limiter, limit, GetTickCount64(), bytes);
    while (waitMs > 0) {
        if (pauseIsRequested(pauseRequested)) return false;
        DWORD slice = waitMs < kWaitSliceMs ? static_cast<DWORD>(waitMs) : kWaitSliceMs;
        Sleep(slice);
        waitMs -= slice;
        // A limit lifted or changed during the wait applies at once.
        if (transferSpeedLimit() != pace->limiter.bytesPerSecond) break;
    }
    return !pauseIsRequested(pauseRequested);
}
