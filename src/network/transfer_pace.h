// The download speed limit of the whole process and the pacing of one transfer's reads by it. Every
// transfer of the launcher and Updater goes through here, so one setting governs them all.
#pragma once
#include <windows.h>

#include "network/rate_limiter.h"

// Bytes per second; kUnlimitedRate for none. Read at every chunk, so a change applies to a transfer
// under way.
void setTransferSpeedLimit(long long bytesPerSecond);
long long transferSpeedLimit();

struct TransferPace {
    RateLimiter limiter;
    DWORD readSize;         // bytes the next read asks for (nextReadSize)
    ULONGLONG readStarted;  // when the read under way began
};

void beginTransferPace(TransferPace* pace, DWORD bufferSize);

// Around each read: how much to ask for, and the time it took, which sizes the next one.
DWORD startTransferRead(TransferPace* pace);
void endTransferRead(TransferPace* pace, DWORD bufferSize);

// After a read of `bytes`: waits as long as the limit asks. The wait is cut short when *pauseRequested
// becomes nonzero (pauseRequested may be null); answers false then.
bool paceTransfer(TransferPace* pace, DWORD bytes, const volatile LONG* pauseRequested);

inline bool pauseIsRequested(const volatile LONG* pauseRequested) {
    return pauseRequested != nullptr && *pauseRequested != 0;
}
