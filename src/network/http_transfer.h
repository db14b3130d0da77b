// Fetches one URL into one local file over WinINet, after asking the server for the size with HEAD,
// so that a transfer that stops early is told from a complete one. Synchronous, no shared state.
#pragma once
#include <windows.h>

// Called after every successful read with the bytes received so far and the expected total (0 while
// unknown); the last call follows the zero-length read and reports (received, received). Nonzero cancels.
typedef int (*ProgressCallback)(int received, int expectedTotal);

// Results of downloadToFile.
enum TransferResult {
    kTransferOk = 0,                // the body was written to the local file
    kTransferBadUrl = 1,            // the URL could not be split, or no Internet handle could be opened
    kTransferOpenFailed = 2,        // the URL could not be opened (connection, certificate or request failure)
    kTransferCreateFailed = 3,      // the local file could not be created
    kTransferCancelled = 4,         // the progress callback asked to cancel
    kTransferIncomplete = 5,        // a read failed, the body ended short of the announced size, or no
                                    // size was announced, so that its end could not be told
    kTransferWriteFailed = 6,       // the local file could not be written (disk full, say)
    kTransferBadStatus = 7,         // the server answered with an error or a part of the object (the
                                    // local file is left untouched)
};

// Results of queryRemoteSize.
enum { kSizeKnown = 0, kSizeNoInternet = 1, kSizeUnknown = 2 };

// HEAD request for the object's Content-Length; *size is written only when kSizeKnown is returned.
// port 0 means the default port of the secure flag (443 or 80).
int queryRemoteSize(const char* host, int port, const char* object, int secure, const char* agent, DWORD timeoutMs,
                    int* size);

// GET of url into localFile (replaced only once the URL has opened and answered with the object: a 200,
// or a 206 over all of it). Only a body whose length was announced (by HEAD or the GET) and met counts
// as whole: WinINet ends a body that stops when the connection closes, and a chunked body broken off
// anywhere (Wine's WinINet even inside a chunk), the same way as a whole one. agent nullptr means "downslib",
// timeoutMs 0 means 3000; the time-out bounds every receive of the size query and of the download.
// With the secure flag the server's certificate is verified in full: wrong host, expired or
// unknown authority make the request fail.
// What the transfer met, for the caller's log: the GET's status (0 when none was read), the error of
// a request that could not be opened or read (0 when none) and the body bytes received.
struct TransferDetail {
    int httpStatus;
    DWORD error;
    long long received;
};
int downloadToFile(const char* url, const char* localFile, int secure, const char* agent, DWORD timeoutMs,
                   ProgressCallback callback, TransferDetail* detail = nullptr);
