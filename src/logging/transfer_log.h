// Support-log events of transfers, from the results the network code hands its callers: the caller
// says what was fetched, the result says how it went.
#pragma once
#include "logging/support_log.h"
#include "network/http_transfer.h"
#include "network/patch_transfer.h"

// A downloadToFile of `url` into the local file `name` that returned `transferResult`.
void logDownload(const char* topic, const char* url, const char* name, int transferResult,
                 const TransferDetail& detail);

// One fetchIntoFile request of `url` for the local file `name`.
void logFetch(const char* topic, const char* url, const char* name, const FetchResult& result);
