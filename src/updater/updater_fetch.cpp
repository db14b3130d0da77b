// Updater's downloads: one strict-TLS transfer per file through the shared engine, then the signed
// patch index decides whether the bytes are the publisher's.
#include "updater/updater_fetch.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "update/http_transfer.h"
#include "update/patch_crypto.h"
#include "update/url.h"
#include "updater/updater_texts.h"

namespace {

const char kAgent[] = "NorvaneUpdater";
const DWORD kTimeoutMs = 10000;
const DWORD kHttpOk = 200;
const size_t kMaxIndexSize = 4 * 1024 * 1024;
const size_t kUrlSize = 2048;

// downloadToFile's progress callback carries no context; one transfer runs at a time.
const FetchHooks* gActiveHooks = nullptr;

int reportProgress(int received, int expectedTotal) {
    if (!gActiveHooks) return 0;
    if (gActiveHooks->progress && expectedTotal > 0) {
        gActiveHooks->progress(static_cast<int>(static_cast<long long>(received) * 100 / expectedTotal));
    }
    return gActiveHooks->cancelled && gActiveHooks->cancelled() ? 1 : 0;
}

// downloadToFile stores whatever body the server sends, an error page too: a HEAD request tells the
// HTTP status first. 0 when no answer came.
DWORD queryHttpStatus(const char* url) {
    UrlParts parts;
    if (!splitUrl(url, &parts)) return 0;
    HINTERNET internet = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!internet) return 0;
    DWORD timeout = kTimeoutMs;
    InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    INTERNET_PORT port = parts.port > 0 ? static_cast<INTERNET_PORT>(parts.port) : INTERNET_DEFAULT_HTTPS_PORT;
    HINTERNET connection =
        InternetConnectA(internet, parts.host, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = connection ? HttpOpenRequestA(connection, "HEAD", *parts.object ? parts.object : "/",
                                                      nullptr, nullptr, nullptr,
                                                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                          INTERNET_FLAG_SECURE,
                                                      0)
                                   : nullptr;
    DWORD status = 0;
    if (request && HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
        DWORD size = sizeof status;
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
            status = 0;
        }
    }
    if (request) InternetCloseHandle(request);
    if (connection) InternetCloseHandle(connection);
    InternetCloseHandle(internet);
    return status;
}

const char* transferReason(int result) {
    switch (result) {
        case kTransferBadUrl: return "bad address";
        case kTransferOpenFailed: return "no connection to the server";
        case kTransferCreateFailed: return "cannot create the file";
        case kTransferIncomplete: return "the transfer broke off";
        case kTransferWriteFailed: return "cannot write the file";
        default: return "transfer error";
    }
}

bool joinUrl(const char* baseUrl, const char* urlPath, char (&url)[kUrlSize]) {
    int written = snprintf(url, sizeof url, "%s/%s", baseUrl, urlPath);
    return written > 0 && written < static_cast<int>(sizeof url);
}

bool readSmallFile(const char* path, std::string* text) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    std::vector<char> buffer(kMaxIndexSize + 1);
    size_t count = fread(buffer.data(), 1, buffer.size(), file);
    fclose(file);
    if (count > kMaxIndexSize) return false;
    text->assign(buffer.data(), count);
    return true;
}

// Fetches and verifies the index. false with message set when it is missing or not the publisher's.
bool fetchPatchIndex(const char* baseUrl, const char* indexFile, const uint8_t key[kP256PublicKeySize],
                     PatchIndex* index, char* message, size_t messageSize) {
    char url[kUrlSize];
    char reason[128] = {};
    std::string text;
    bool ok = joinUrl(baseUrl, updater_file::kIndexUrlPath, url) &&
              fetchToFile(url, indexFile, nullptr, reason, sizeof reason) == kFetchOk;
    if (!ok) {
        snprintf(message, messageSize, updater_text::kIndexFailed, reason[0] ? reason : "cannot fetch");
        return false;
    }
    ok = readSmallFile(indexFile, &text);
    DeleteFileA(indexFile);
    if (!ok || !verifyPatchIndexText(text.data(), text.size(), key, index)) {
        snprintf(message, messageSize, updater_text::kIndexFailed, ok ? "bad signature or format" : "too large");
        return false;
    }
    return true;
}

bool matchesIndexLine(const PatchIndex& index, const char* urlPath, const char* localFile, const char* what,
                      char* message, size_t messageSize) {
    const PatchIndexFile* line = findPatchIndexFile(index, urlPath);
    if (!line) {
        snprintf(message, messageSize, updater_text::kNotInIndex, urlPath);
        return false;
    }
    uint64_t size = 0;
    uint8_t digest[kSha256Size];
    if (!sha256OfFile(localFile, &size, digest)) {
        snprintf(message, messageSize, updater_text::kHashMismatch, what, "cannot read it back");
        return false;
    }
    if (size != line->size || memcmp(digest, line->sha256, kSha256Size) != 0) {
        snprintf(message, messageSize, updater_text::kHashMismatch, what,
                 size != line->size ? "wrong size" : "wrong SHA-256");
        return false;
    }
    return true;
}

}  // namespace

// The one place Updater moves bytes over the network, so a shared session-based fetch can replace it
// without touching the steps around it.
int fetchToFile(const char* url, const char* localFile, const FetchHooks* hooks, char* reason, size_t reasonSize) {
    if (hooks && hooks->cancelled && hooks->cancelled()) return kFetchCancelled;
    DWORD status = queryHttpStatus(url);
    if (status != kHttpOk) {
        if (status == 0) snprintf(reason, reasonSize, "%s", transferReason(kTransferOpenFailed));
        else snprintf(reason, reasonSize, "HTTP %lu", static_cast<unsigned long>(status));
        return kFetchFailed;
    }
    gActiveHooks = hooks;
    int result = downloadToFile(url, localFile, 1, kAgent, kTimeoutMs, reportProgress);
    gActiveHooks = nullptr;
    if (result == kTransferOk) return kFetchOk;
    DeleteFileA(localFile);
    if (result == kTransferCancelled) return kFetchCancelled;
    snprintf(reason, reasonSize, "%s", transferReason(result));
    return kFetchFailed;
}

int fetchVerifiedFile(const char* baseUrl, const char* urlPath, const char* localFile, const char* indexFile,
                      const char* what, const FetchHooks* hooks, char* message, size_t messageSize) {
    uint8_t key[kP256PublicKeySize];
    bool signedBuild = builtInPatchPublicKey(key);
    PatchIndex index;
    if (signedBuild && !fetchPatchIndex(baseUrl, indexFile, key, &index, message, messageSize)) return kFetchFailed;

    char url[kUrlSize];
    char reason[128] = {};
    if (!joinUrl(baseUrl, urlPath, url)) {
        snprintf(message, messageSize, updater_text::kDownloadFailed, what, "address too long");
        return kFetchFailed;
    }
    int result = fetchToFile(url, localFile, hooks, reason, sizeof reason);
    if (result == kFetchFailed) snprintf(message, messageSize, updater_text::kDownloadFailed, what, reason);
    if (result != kFetchOk) return result;
    if (signedBuild && !matchesIndexLine(index, urlPath, localFile, what, message, messageSize)) {
        DeleteFileA(localFile);
        return kFetchFailed;
    }
    return kFetchOk;
}
