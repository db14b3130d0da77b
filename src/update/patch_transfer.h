// Patch file transfers over one WinINet session: the session a whole update run shares (so the
// connection to the patch server is kept alive), and the GET of one URL into an open file.
// Certificates are verified in full on every request. Shared by the launcher and Updater.
#pragma once
#include <windows.h>
#include <wininet.h>

// A stalled server must not hold a transfer forever; 30 s without a byte fails the read.
enum { kPatchReceiveTimeoutMs = 30000, kPatchConnectTimeoutMs = 30000 };

struct PatchSession {
    HINTERNET internet;
};

// Opened with the system's preconfigured settings, as the manifest fetch is, so a player behind a
// proxy can patch as well as read the manifest.
bool openPatchSession(PatchSession* session, const char* agent);
void closePatchSession(PatchSession* session);

enum class FetchFailure { None, Open, QueryStatus, Status, QuerySize, Read, Write };

struct FetchResult {
    FetchFailure failure;
    int httpStatus;      // the answer's status, when one was read
    long long size;      // the announced Content-Length
    long long received;  // body bytes written to the file
};

// Called after every chunk written, with the body bytes so far and the announced size.
typedef void (*BodyProgress)(long long received, long long size);

// GETs `url` through the session into `file` (an open, empty HANDLE), in chunks of `bufferSize`
// bytes with one write each. Status 200 or 206 and a Content-Length are required, and the body must
// be exactly that long; reading stops as soon as it is longer, so a server cannot fill the disk.
FetchResult fetchIntoFile(PatchSession* session, const char* url, HANDLE file, void* buffer, DWORD bufferSize,
                          BodyProgress progress);
