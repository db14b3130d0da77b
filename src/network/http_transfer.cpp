// WinINet transfer of one URL into one local file, with a HEAD size query first and an optional
// progress callback. Certificates are never relaxed: a fetch the system cannot trust fails.
#include "network/http_transfer.h"

#include <wininet.h>

#include <climits>

#include "network/content_range.h"
#include "network/transfer_pace.h"
#include "network/url.h"

namespace {

const DWORD kDefaultTimeoutMs = 3000;
const DWORD kReadChunkSize = 2048;
const DWORD kRangeTextSize = 128;

DWORD requestFlags(int secure) {
    return INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | (secure ? INTERNET_FLAG_SECURE : 0);
}

HINTERNET openInternet(const char* agent, DWORD timeoutMs) {
    HINTERNET internet = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (internet) InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof timeoutMs);
    return internet;
}

INTERNET_PORT portFor(int port, int secure) {
    if (port > 0) return static_cast<INTERNET_PORT>(port);
    return secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
}

void closeHandle(HINTERNET handle) {
    if (handle) InternetCloseHandle(handle);
}

// Opens and sends one request. The time-out goes on the request handle before it is sent: that is
// where Wine's WinINet takes it from (set only on the Internet handle, a stalled server holds the
// read for good).
HINTERNET sendRequest(HINTERNET connection, const char* verb, const char* object, int secure, DWORD timeoutMs) {
    HINTERNET request = HttpOpenRequestA(connection, verb, object && *object ? object : "/", nullptr, nullptr,
                                         nullptr, requestFlags(secure), 0);
    if (!request) return nullptr;
    InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof timeoutMs);
    if (HttpSendRequestA(request, nullptr, 0, nullptr, 0)) return request;
    DWORD error = GetLastError();  // the caller's report names why the request failed, not the close
    InternetCloseHandle(request);
    SetLastError(error);
    return nullptr;
}

// Only a 200 answer's Content-Length is the object's size; a refusal (405, say) carries its own page's.
bool answeredOk(HINTERNET request) {
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    return HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr) &&
           status == 200;
}

struct Transfer {
    HINTERNET urlHandle;
    HANDLE file;
    ProgressCallback callback;
    int expectedTotal;
    int received;
    bool endIsKnown;  // a length was announced, so a cut body is told from a whole one
};

// Writes one chunk, all of it; false when the local file refuses.
bool writeChunk(HANDLE file, const char* chunk, DWORD count) {
    DWORD written = 0;
    return WriteFile(file, chunk, count, &written, nullptr) && written == count;
}

int receiveBody(Transfer* transfer) {
    char buffer[kReadChunkSize];
    TransferPace pace;
    beginTransferPace(&pace, sizeof buffer);
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(transfer->urlHandle, buffer, sizeof buffer, &count)) return kTransferIncomplete;
        if (count > static_cast<DWORD>(INT_MAX - transfer->received)) return kTransferIncomplete;
        transfer->received += static_cast<int>(count);
        if (count == 0 && transfer->expectedTotal <= 0) transfer->expectedTotal = transfer->received;
        if (transfer->callback && transfer->callback(transfer->received, transfer->expectedTotal)) {
            return kTransferCancelled;
        }
        if (count == 0) break;
        if (!writeChunk(transfer->file, buffer, count)) return kTransferWriteFailed;
        paceTransfer(&pace, count, nullptr);
    }
    return transfer->endIsKnown && transfer->received == transfer->expectedTotal ? kTransferOk : kTransferIncomplete;
}

// When HEAD gave no size, the GET's own Content-Length is the size to hold the body to, so a body
// cut short is never taken for the whole file. Without any length the end cannot be told: a body
// delimited by the connection's close ends the same way whether it was whole or cut, and Wine's
// WinINet ends a chunked body that breaks off (between chunks or inside one) as if its last chunk came.
void learnWhereTheBodyEnds(Transfer* transfer) {
    if (transfer->expectedTotal > 0) {
        transfer->endIsKnown = true;
        return;
    }
    DWORD length = 0;
    DWORD lengthSize = sizeof length;
    if (HttpQueryInfoA(transfer->urlHandle, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &lengthSize,
                       nullptr) &&
        length <= static_cast<DWORD>(INT_MAX)) {
        transfer->expectedTotal = static_cast<int>(length);
        transfer->endIsKnown = true;
    }
}

// The object itself: a 200, or a 206 whose range is the whole of it (no Range was asked for). An error
// page, or a part, is not.
bool answeredWithTheObject(HINTERNET request, int* statusRead) {
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr))
        return false;
    *statusRead = static_cast<int>(status);
    if (status == 200) return true;
    if (status != 206) return false;
    char text[kRangeTextSize] = {};
    DWORD textSize = sizeof text - 1;
    DWORD length = 0;
    DWORD lengthSize = sizeof length;
    ContentRange range;
    return HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, text, &textSize, nullptr) &&
           parseContentRange(text, &range) &&
           HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &lengthSize,
                          nullptr) &&
           rangeCompletesFile(range, 0, length, 0);
}

}  // namespace

int queryRemoteSize(const char* host, int port, const char* object, int secure, const char* agent, DWORD timeoutMs,
                    int* size) {
    HINTERNET internet = openInternet(agent, timeoutMs);
    if (!internet) return kSizeNoInternet;
    int result = kSizeUnknown;
    HINTERNET connection = InternetConnectA(internet, host, portFor(port, secure), nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = connection ? sendRequest(connection, "HEAD", object, secure, timeoutMs) : nullptr;
    if (request && answeredOk(request)) {
        DWORD length = 0;
        DWORD lengthSize = sizeof length;
        if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &lengthSize,
                           nullptr) &&
            length <= static_cast<DWORD>(INT_MAX)) {
            *size = static_cast<int>(length);
            result = kSizeKnown;
        }
    }
    closeHandle(request);
    closeHandle(connection);
    closeHandle(internet);
    return result;
}

int downloadToFile(const char* url, const char* localFile, int secure, const char* agent, DWORD timeoutMs,
                   ProgressCallback callback, TransferDetail* detail) {
    TransferDetail ignored;
    if (!detail) detail = &ignored;
    *detail = TransferDetail{0, 0, 0};
    if (!agent) agent = "downslib";
    if (timeoutMs == 0) timeoutMs = kDefaultTimeoutMs;
    UrlParts parts;
    if (!splitUrl(url, &parts)) return kTransferBadUrl;

    Transfer transfer{nullptr, INVALID_HANDLE_VALUE, callback, 0, 0, false};
    queryRemoteSize(parts.host, parts.port, parts.object, secure, agent, timeoutMs, &transfer.expectedTotal);

    HINTERNET internet = openInternet(agent, timeoutMs);
    if (!internet) return kTransferBadUrl;
    int result = kTransferOk;
    HINTERNET connection = InternetConnectA(internet, parts.host, portFor(parts.port, secure), nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    transfer.urlHandle = connection ? sendRequest(connection, "GET", parts.object, secure, timeoutMs) : nullptr;
    if (!transfer.urlHandle) {
        detail->error = GetLastError();
        result = kTransferOpenFailed;
    } else if (!answeredWithTheObject(transfer.urlHandle, &detail->httpStatus)) {
        result = kTransferBadStatus;
    } else {
        learnWhereTheBodyEnds(&transfer);
        transfer.file = CreateFileA(localFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (transfer.file == INVALID_HANDLE_VALUE) detail->error = GetLastError();
        result = transfer.file == INVALID_HANDLE_VALUE ? kTransferCreateFailed : receiveBody(&transfer);
        detail->received = transfer.received;
    }
    if (transfer.file != INVALID_HANDLE_VALUE) CloseHandle(transfer.file);
    closeHandle(transfer.urlHandle);
    closeHandle(connection);
    closeHandle(internet);
    return result;
}
