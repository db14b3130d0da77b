// One WinINet session per update run and the GET of a patch file into an open file handle.
#include "update/patch_transfer.h"

#include <cstdlib>
#include <cstring>

namespace {

enum { kQuerySize = 256 };

// RELOAD and NO_CACHE_WRITE: patch files are large and must come fresh from the server, never
// from or into WinINet's cache. No IGNORE_CERT flags: a patch file runs as game code.
const DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION;

bool queryHeaderText(HINTERNET request, DWORD header, char (&text)[kQuerySize]) {
    DWORD length = kQuerySize - 1;
    memset(text, 0, kQuerySize);
    return HttpQueryInfoA(request, header, text, &length, nullptr) != 0;
}

bool writeAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

FetchFailure receiveBody(HINTERNET request, HANDLE file, void* buffer, DWORD bufferSize, BodyProgress progress,
                         FetchResult* result) {
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(request, buffer, bufferSize, &count)) return FetchFailure::Read;
        if (count == 0) break;
        if (!writeAll(file, buffer, count)) return FetchFailure::Write;
        result->received += count;
        if (progress) progress(result->received, result->size);
        if (result->received > result->size) return FetchFailure::Read;
    }
    return result->received == result->size ? FetchFailure::None : FetchFailure::Read;
}

FetchFailure readAnswer(HINTERNET request, HANDLE file, void* buffer, DWORD bufferSize, BodyProgress progress,
                        FetchResult* result) {
    char query[kQuerySize];
    if (!queryHeaderText(request, HTTP_QUERY_STATUS_CODE, query)) return FetchFailure::QueryStatus;
    result->httpStatus = atoi(query);
    if (result->httpStatus != 200 && result->httpStatus != 206) return FetchFailure::Status;
    if (!queryHeaderText(request, HTTP_QUERY_CONTENT_LENGTH, query)) return FetchFailure::QuerySize;
    // 64-bit and clamped: a length past 2 GiB or below zero is a plain mismatch, never an overflow.
    result->size = strtoll(query, nullptr, 10);
    if (result->size < 0) result->size = 0;
    return receiveBody(request, file, buffer, bufferSize, progress, result);
}

}  // namespace

bool openPatchSession(PatchSession* session, const char* agent) {
    session->internet = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session->internet == nullptr) return false;
    DWORD receiveTimeout = kPatchReceiveTimeoutMs;
    DWORD connectTimeout = kPatchConnectTimeoutMs;
    InternetSetOptionA(session->internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof receiveTimeout);
    InternetSetOptionA(session->internet, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof connectTimeout);
    return true;
}

void closePatchSession(PatchSession* session) {
    if (session->internet != nullptr) InternetCloseHandle(session->internet);
    session->internet = nullptr;
}

FetchResult fetchIntoFile(PatchSession* session, const char* url, HANDLE file, void* buffer, DWORD bufferSize,
                          BodyProgress progress) {
    FetchResult result = {FetchFailure::Open, 0, 0, 0};
    HINTERNET request = InternetOpenUrlA(session->internet, url, nullptr, 0, kRequestFlags, 0);
    if (request == nullptr) return result;
    result.failure = readAnswer(request, file, buffer, bufferSize, progress, &result);
    InternetCloseHandle(request);
    return result;
}
