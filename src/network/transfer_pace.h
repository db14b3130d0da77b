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
};

void beginTransferPace(TransferPace* pace);

// After a read of `bytes`: waits as long as the limit asks. The wait is cut short when *pauseRequested
// becomes nonzero (pauseRequested may be null); answers false then.
bool paceTransfer(TransferPace* pace, DWORD bytes, const volatile LONG* pauseRequested);

inline bool pauseIsRequested(const volatile LONG* pauseRequested) {
    return pauseRequested != nullptr && *pauseRequested != 0;
}
