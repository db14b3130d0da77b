// One WinINet session per update run and the GET of a patch file into an open file handle.
#include "network/patch_transfer.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "network/content_range.h"
#include "network/transfer_pace.h"
#include "network/url.h"

namespace {

enum { kQuerySize = 256, kHeaderSize = 512 };

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

// A 206 is taken only when its Content-Range is exactly the rest of the file after the held bytes.
bool partCompletesFile(HINTERNET request, const FetchRequest& fetch, long long bodySize) {
    char text[kQuerySize];
    ContentRange range;
    return queryHeaderText(request, HTTP_QUERY_CONTENT_RANGE, text) && parseContentRange(text, &range) &&
           rangeCompletesFile(range, fetch.resumeFrom, bodySize, fetch.expectedSize);
}

void readValidator(HINTERNET request, char (&validator)[kValidatorSize]) {
    char text[kQuerySize];
    validator[0] = '\0';
    if (queryHeaderText(request, HTTP_QUERY_ETAG, text) || queryHeaderText(request, HTTP_QUERY_LAST_MODIFIED, text))
        snprintf(validator, sizeof validator, "%s", text);
}

// Drops what the file held: the server sends the whole file again.
bool startOver(HANDLE file, Sha256Stream* hash) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) return false;
    if (hash == nullptr) return true;
    abandonSha256(hash);
    return beginSha256(hash);
}

// A pause is checked before every read and during the limit's waits: the request is given up there
// and its handle closed, which closes the connection, while the part file keeps every byte written.
// Once every byte is in, a pause no longer stops anything: a whole file resumed would ask for a
// range past its end and start over.
FetchFailure receiveBody(HINTERNET handle, const FetchRequest& request, void* buffer, DWORD bufferSize,
                         FetchResult* result) {
    TransferPace pace;
    beginTransferPace(&pace, bufferSize);
    for (;;) {
        bool bytesToCome = result->received < result->size;
        if (bytesToCome && pauseIsRequested(request.pauseRequested)) return FetchFailure::Paused;
        DWORD count = 0;
        if (!InternetReadFile(handle, buffer, startTransferRead(&pace), &count)) return FetchFailure::Read;
        endTransferRead(&pace, bufferSize);
        if (count == 0) break;
        if (!writeAll(request.file, buffer, count)) return FetchFailure::Write;
        if (request.hash != nullptr && !addSha256(request.hash, buffer, count)) return FetchFailure::Write;
        result->received += count;
        if (request.progress) request.progress(result->received, result->size);
        if (result->received > result->size) return FetchFailure::Read;
        if (!paceTransfer(&pace, count, request.pauseRequested) && result->received < result->size)
            return FetchFailure::Paused;
    }
    return result->received == result->size ? FetchFailure::None : FetchFailure::Read;
}

// Where the body goes: appended to what the file holds (a 206 that is exactly the rest), or from the
// start (a 200). false for a partial answer that does not fit.
bool placeBody(HINTERNET handle, const FetchRequest& request, long long bodySize, FetchResult* result) {
    bool resuming = request.resumeFrom > 0;
    if (result->httpStatus == 206) {
        if (!partCompletesFile(handle, request, bodySize)) return false;
        result->received = request.resumeFrom;
        return true;
    }
    result->restarted = resuming;
    result->received = 0;
    if (resuming && !startOver(request.file, request.hash)) return false;
    return request.startsOver == nullptr || request.startsOver(request.context, result->validator);
}

FetchFailure readAnswer(HINTERNET handle, const FetchRequest& request, void* buffer, DWORD bufferSize,
                        FetchResult* result) {
    char query[kQuerySize];
    if (!queryHeaderText(handle, HTTP_QUERY_STATUS_CODE, query)) return FetchFailure::QueryStatus;
    result->httpStatus = atoi(query);
    if (result->httpStatus == 416 && request.resumeFrom > 0) return FetchFailure::BadRange;
    if (result->httpStatus != 200 && result->httpStatus != 206) return FetchFailure::Status;
    if (!queryHeaderText(handle, HTTP_QUERY_CONTENT_LENGTH, query)) return FetchFailure::QuerySize;
    // 64-bit and clamped: a length past 2 GiB or below zero is a plain mismatch, never an overflow.
    long long bodySize = strtoll(query, nullptr, 10);
    if (bodySize < 0) bodySize = 0;
    readValidator(handle, result->validator);
    if (!placeBody(handle, request, bodySize, result)) return FetchFailure::BadRange;
    result->size = result->received + bodySize;
    long long room = freeDiskSpace();
    if (room >= 0 && room < bodySize + kFreeSpaceMargin) return FetchFailure::NoSpace;
    return receiveBody(handle, request, buffer, bufferSize, result);
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

namespace {

struct OpenRequest {
    HINTERNET connection;
    HINTERNET request;
};

void closeRequest(OpenRequest* open) {
    if (open->request != nullptr) InternetCloseHandle(open->request);
    if (open->connection != nullptr) InternetCloseHandle(open->connection);
}

// Connect, open and send, rather than InternetOpenUrl: Wine's WinINet applies a receive time-out
// only when it is set on the request handle before the request is sent.
bool sendRequest(PatchSession* session, const char* url, const char* headers, OpenRequest* open) {
    UrlParts parts;
    if (!splitUrl(url, &parts)) return false;
    INTERNET_PORT port = parts.port > 0 ? static_cast<INTERNET_PORT>(parts.port) : INTERNET_DEFAULT_HTTPS_PORT;
    open->connection = InternetConnectA(session->internet, parts.host, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (open->connection == nullptr) return false;
    open->request = HttpOpenRequestA(open->connection, "GET", parts.object[0] ? parts.object : "/", nullptr, nullptr,
                                     nullptr, kRequestFlags, 0);
    if (open->request == nullptr) return false;
    DWORD receiveTimeout = kPatchReceiveTimeoutMs;
    InternetSetOptionA(open->request, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof receiveTimeout);
    DWORD headersLength = headers[0] ? static_cast<DWORD>(-1) : 0;
    return HttpSendRequestA(open->request, headers[0] ? headers : nullptr, headersLength, nullptr, 0) != 0;
}

}  // namespace

FetchResult fetchIntoFile(PatchSession* session, const FetchRequest& request, void* buffer, DWORD bufferSize) {
    FetchResult result{};
    result.failure = FetchFailure::Open;
    result.received = request.resumeFrom;
    char headers[kHeaderSize] = {};
    if (request.resumeFrom > 0) {
        bool withValidator = request.validator != nullptr && request.validator[0] != '\0';
        int length = withValidator ? snprintf(headers, sizeof headers, "Range: bytes=%lld-\r\nIf-Range: %s\r\n",
                                              request.resumeFrom, request.validator)
                                   : snprintf(headers, sizeof headers, "Range: bytes=%lld-\r\n", request.resumeFrom);
        if (length < 0 || length >= static_cast<int>(sizeof headers)) return result;
    }
    OpenRequest open = {nullptr, nullptr};
    if (!sendRequest(session, request.url, headers, &open)) {
        result.openError = GetLastError();
        closeRequest(&open);
        return result;
    }
    result.failure = readAnswer(open.request, request, buffer, bufferSize, &result);
    closeRequest(&open);
    return result;
}

namespace {

bool isCertificateError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return true;
        default: return false;
    }
}

}  // namespace

bool isTransientFetchFailure(const FetchResult& result) {
    switch (result.failure) {
        case FetchFailure::Open: return !isCertificateError(result.openError);
        case FetchFailure::Read: return true;
        case FetchFailure::Status: return result.httpStatus >= 500 && result.httpStatus <= 599;
        default: return false;
    }
}

long long freeDiskSpace() {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(nullptr, &available, nullptr, nullptr)) return -1;
    return available.QuadPart > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX
                                                                          : static_cast<long long>(available.QuadPart);
}
