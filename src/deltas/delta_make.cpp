// zstd's "patch from" mode, as `zstd -19 --long=31 --patch-from=BASE` runs it: level 19, long-distance
// matching, and a window that reaches from the end of the target back to the start of the base, so
// every byte of the old file can be referenced.
#include "deltas/delta_make.h"

#include <zstd.h>

namespace {

const int kPublishLevel = 19;
// The most a frame may ask the decoder to keep; the launcher's decoder accepts the same.
const int kMaxWindowLog = 31;
const int kMinWindowLog = 10;  // zstd's ZSTD_WINDOWLOG_MIN, which its stable interface does not export

int windowLogCovering(uint64_t bytes) {
    int log = 0;
    while (log < kMaxWindowLog && (1ull << log) < bytes) ++log;
    return log < kMinWindowLog ? kMinWindowLog : log;
}

bool zstdFailed(size_t result, const char* what, std::string* error) {
    if (!ZSTD_isError(result)) return false;
    *error = std::string(what) + ": " + ZSTD_getErrorName(result);
    return true;
}

bool configureCompression(ZSTD_CCtx* context, const DeltaBytes* base, const DeltaBytes& target, std::string* error) {
    // The checksum costs 4 bytes and lets the decoder catch a damaged frame before hashing its output.
    if (zstdFailed(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kPublishLevel), "level", error) ||
        zstdFailed(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1), "checksum", error) ||
        zstdFailed(ZSTD_CCtx_setPledgedSrcSize(context, target.size()), "size", error))
        return true;
    if (base == nullptr) return false;
    int windowLog = windowLogCovering(static_cast<uint64_t>(base->size()) + target.size());
    return zstdFailed(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog), "window", error) ||
           zstdFailed(ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1), "long mode", error) ||
           zstdFailed(ZSTD_CCtx_refPrefix(context, base->data(), base->size()), "reference", error);
}

}  // namespace

bool makePayload(const DeltaBytes* base, const DeltaBytes& target, DeltaBytes* payload, std::string* error) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    if (context == nullptr) {
        *error = "zstd: out of memory";
        return false;
    }
    bool ok = !configureCompression(context, base, target, error);
    if (ok) {
        payload->resize(ZSTD_compressBound(target.size()));
        size_t written = ZSTD_compress2(context, payload->data(), payload->size(), target.data(), target.size());
        ok = !zstdFailed(written, "compression", error);
        payload->resize(ok ? written : 0);
    }
    ZSTD_freeCCtx(context);
    return ok;
}

bool decodePayload(const DeltaBytes* base, const DeltaBytes& payload, DeltaBytes* output, std::string* error) {
    // Exactly one frame that names its size: the launcher sizes its part file from it.
    if (ZSTD_findFrameCompressedSize(payload.data(), payload.size()) != payload.size()) {
        *error = "not a single zstd frame";
        return false;
    }
    unsigned long long size = ZSTD_getFrameContentSize(payload.data(), payload.size());
    if (size == ZSTD_CONTENTSIZE_UNKNOWN || size == ZSTD_CONTENTSIZE_ERROR || size > kDeltaMemoryCap) {
        *error = "the frame does not name a size up to the cap";
        return false;
    }
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (context == nullptr) {
        *error = "zstd: out of memory";
        return false;
    }
    output->assign(static_cast<size_t>(size), 0);
    bool ok = !zstdFailed(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kMaxWindowLog), "window", error) &&
              (base == nullptr ||
               !zstdFailed(ZSTD_DCtx_refPrefix(context, base->data(), base->size()), "reference", error));
    if (ok) {
        size_t decoded = ZSTD_decompressDCtx(context, output->data(), output->size(), payload.data(), payload.size());
        ok = !zstdFailed(decoded, "decoding", error);
        if (ok && decoded != size) {
            *error = "decodes to " + std::to_string(decoded) + " bytes, not the " + std::to_string(size) + " it names";
            ok = false;
        }
    }
    ZSTD_freeDCtx(context);
    return ok;
}

bool payloadRebuilds(const DeltaBytes* base, const DeltaBytes& payload, const DeltaBytes& target, std::string* error) {
    DeltaBytes output;
    if (!decodePayload(base, payload, &output, error)) return false;
    if (output != target) {
        *error = "decodes to other bytes than the file";
        return false;
    }
    return true;
}
