// Decodes a payload frame block by block straight into the caller's output: zstd's buffer-less
// interface keeps no window or input buffer of its own (the output and the base are the history), and
// each block's end is a point where the caller can hash or report what is complete.
#include "deltas/delta_decode.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

const unsigned char kFrameMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};  // ZSTD_MAGICNUMBER, little-endian

// A payload is one frame: a skippable frame first would decode to nothing and hide what follows.
bool startsWithFrame(const uint8_t* payload, size_t size) {
    if (size < sizeof kFrameMagic) return false;
    for (size_t i = 0; i < sizeof kFrameMagic; ++i)
        if (payload[i] != kFrameMagic[i]) return false;
    return true;
}

DeltaDecode decodeBlocks(ZSTD_DCtx* context, const DeltaDecodeRequest& request, uint8_t* output) {
    size_t in = 0;
    size_t out = 0;
    for (size_t next = ZSTD_nextSrcSizeToDecompress(context); next != 0;
         next = ZSTD_nextSrcSizeToDecompress(context)) {
        if (next > request.payloadSize - in) return DeltaDecode::Corrupt;  // cut short
        size_t produced = ZSTD_decompressContinue(context, output + out, request.targetSize - out,
                                                  request.payload + in, next);
        if (ZSTD_isError(produced)) return DeltaDecode::Corrupt;  // including more than targetSize
        in += next;
        out += produced;
        if (produced != 0 && request.progress) request.progress(request.context, out);
    }
    // The frame ended: it must have filled the target and be all the payload holds.
    return out == request.targetSize && in == request.payloadSize ? DeltaDecode::Done : DeltaDecode::Corrupt;
}

}  // namespace

DeltaDecode decodeDeltaPayload(const DeltaDecodeRequest& request) {
    if (request.payload == nullptr || !startsWithFrame(request.payload, request.payloadSize))
        return DeltaDecode::Corrupt;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (context == nullptr) return DeltaDecode::OutOfMemory;
    // The base is raw content by reference, as the encoder's prefix was: no copy, and a base that
    // happens to begin like a zstd dictionary is still only bytes.
    ZSTD_DDict* prefix = nullptr;
    if (request.base != nullptr && request.baseSize > 0) {
        prefix = ZSTD_createDDict_advanced(request.base, request.baseSize, ZSTD_dlm_byRef, ZSTD_dct_rawContent,
                                           ZSTD_defaultCMem);
        if (prefix == nullptr) {
            ZSTD_freeDCtx(context);
            return DeltaDecode::OutOfMemory;
        }
    }
    DeltaDecode result = DeltaDecode::Corrupt;
    size_t begun = prefix ? ZSTD_decompressBegin_usingDDict(context, prefix) : ZSTD_decompressBegin(context);
    uint8_t emptyTarget = 0;  // an empty file has no output memory, and the decoder wants some
    uint8_t* output = request.targetSize > 0 ? request.output : &emptyTarget;
    if (!ZSTD_isError(begun)) result = decodeBlocks(context, request, output);
    ZSTD_freeDDict(prefix);
    ZSTD_freeDCtx(context);
    return result;
}
