// Turns transfer results into support-log events, with a word for each way a transfer can end.
#include "logging/transfer_log.h"

namespace {

const char* downloadOutcome(int transferResult) {
    switch (transferResult) {
        case kTransferOk: return "done";
        case kTransferBadUrl: return "failed: bad URL or no Internet handle";
        case kTransferOpenFailed: return "failed: open";
        case kTransferCreateFailed: return "failed: create the local file";
        case kTransferCancelled: return "cancelled";
        case kTransferIncomplete: return "failed: incomplete body";
        case kTransferWriteFailed: return "failed: write";
        case kTransferBadStatus: return "failed: status";
        default: return "failed";
    }
}

const char* fetchOutcome(const FetchResult& result) {
    switch (result.failure) {
        case FetchFailure::None: return result.restarted ? "done (started over)" : "done";
        case FetchFailure::Open: return "failed: open";
        case FetchFailure::QueryStatus: return "failed: no status";
        case FetchFailure::Status: return "failed: status";
        case FetchFailure::QuerySize: return "failed: no length";
        case FetchFailure::Read: return "failed: read";
        case FetchFailure::Write: return "failed: write";
        case FetchFailure::NoSpace: return "failed: not enough free disk space";
        case FetchFailure::BadRange: return "failed: wrong range";
        case FetchFailure::Paused: return "paused by the player";
    }
    return "failed";
}

}  // namespace

void logDownload(const char* topic, const char* url, const char* name, int transferResult,
                 const TransferDetail& detail) {
    LogEvent event = logEvent(topic);
    event.url = url;
    event.name = name;
    event.httpStatus = detail.httpStatus;
    event.bytes = detail.received;
    event.error = detail.error;
    event.message = downloadOutcome(transferResult);
    writeLogEvent(event);
}

void logFetch(const char* topic, const char* url, const char* name, const FetchResult& result) {
    LogEvent event = logEvent(topic);
    event.url = url;
    event.name = name;
    event.httpStatus = result.httpStatus;
    event.bytes = result.received;
    event.error = result.failure == FetchFailure::Open ? result.openError : 0;
    event.message = fetchOutcome(result);
    writeLogEvent(event);
}
