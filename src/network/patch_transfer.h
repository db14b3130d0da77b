// Patch file transfers over one WinINet session: the session a whole update run shares (so the
// connection to the patch server is kept alive), and the GET of one URL into an open file, resumed
// with a Range request where part of the file is already there. Certificates are verified in full
// on every request. Shared by the launcher and Updater.
#pragma once
#include <windows.h>
#include <wininet.h>

#include "verification/patch_crypto.h"

// A stalled server must not hold a transfer forever; 30 s without a byte fails the read.
enum { kPatchReceiveTimeoutMs = 30000, kPatchConnectTimeoutMs = 30000, kValidatorSize = 256 };

// Room kept free on the game's volume beyond what a download or an unpacking needs.
const long long kFreeSpaceMargin = 16ll << 20;

struct PatchSession {
    HINTERNET internet;
};

// Opened with the system's preconfigured settings, as the manifest fetch is, so a player behind a
// proxy can patch as well as read the manifest.
bool openPatchSession(PatchSession* session, const char* agent);
void closePatchSession(PatchSession* session);

// BadRange: a partial answer that is not exactly the rest of the file (it starts elsewhere, ends short
// of the last byte, or names another total), or a 416 to a resumed request; the partial file is of no
// use and the download starts over.
// Paused: the caller's pause flag stopped the transfer; what was received is in the file, whole.
enum class FetchFailure { None, Open, QueryStatus, Status, QuerySize, Read, Write, NoSpace, BadRange, Paused };

// One request. `file` is open for writing and holds `resumeFrom` bytes already received of the same
// server file (0 for a fresh download); `validator` is the ETag or Last-Modified the server gave
// for those bytes ("" when none). With `hash`, it already holds those bytes, and every new chunk is
// fed to it as it arrives (no second read).
struct FetchRequest {
    const char* url;
    HANDLE file;
    long long resumeFrom;
    const char* validator;
    Sha256Stream* hash;
    void (*progress)(long long received, long long size);  // body bytes so far of the whole file
    long long expectedSize;  // the whole file's size when known beforehand (an index line); 0 when not
    // Called when the answer fills the file from its first byte (a 200, also to a resumed request),
    // after earlier bytes were dropped and before any new one is written, with the answer's validator
    // ("" when none): whatever names the held bytes must name the new ones from here on; false when it
    // cannot, and the fetch then fails before a byte is written. May be null.
    bool (*startsOver)(void* context, const char* validator);
    void* context;
    // Nonzero asks the transfer to stop at its next chunk (FetchFailure::Paused). May be null.
    const volatile LONG* pauseRequested;
};

struct FetchResult {
    FetchFailure failure;
    int httpStatus;                  // the answer's status, when one was read
    DWORD openError;                 // GetLastError of a request that could not be opened
    long long size;                  // the whole file's size as the server announced it
    long long received;              // bytes of the whole file now in `file`
    bool restarted;                  // the server sent the whole file: earlier bytes were dropped
    char validator[kValidatorSize];  // the answer's ETag, else its Last-Modified, else ""
};

// GETs the URL into the file in chunks of `bufferSize` bytes, one write each. Status 200 or 206 and
// a Content-Length are required, and the body must be exactly that long; reading stops as soon as it
// is longer, so a server cannot fill the disk. A resumed request asks for "bytes=<resumeFrom>-"
// (with If-Range when a validator is known) and appends only to a 206 whose Content-Range is exactly
// the rest of the file; a 200 starts the file over. Before the body, the volume must hold what is still to come
// plus kFreeSpaceMargin. Reads are paced to the process's speed limit (network/transfer_pace.h).
FetchResult fetchIntoFile(PatchSession* session, const FetchRequest& request, void* buffer, DWORD bufferSize);

// Whether a failure may go away by itself (a dropped or refused connection, a time-out, a 5xx
// answer), so that the same request is worth trying again. A certificate the system refuses does not.
bool isTransientFetchFailure(const FetchResult& result);

// Free bytes on the volume of the current directory; -1 when unknown.
long long freeDiskSpace();
