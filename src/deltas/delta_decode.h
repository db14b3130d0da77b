// Decoding one delta payload (a single zstd frame, optionally against the base file's bytes as its
// reference prefix) into memory the caller owns. Free of Windows headers: the apply step maps the
// files and hashes the result, this only turns bytes into bytes.
#pragma once
#include <cstddef>
#include <cstdint>

enum class DeltaDecode {
    Done,
    Corrupt,      // not exactly one frame that decodes to exactly the target size against this base
    OutOfMemory,  // the decoder's small context could not be allocated
};

struct DeltaDecodeRequest {
    const uint8_t* base;  // the reference prefix; nullptr (and baseSize 0) for a whole file
    size_t baseSize;
    const uint8_t* payload;
    size_t payloadSize;
    uint8_t* output;  // exactly targetSize bytes, written front to back
    size_t targetSize;
    // Called after each decoded block with the bytes of output complete so far; may be null.
    void (*progress)(void* context, size_t written);
    void* context;
};

DeltaDecode decodeDeltaPayload(const DeltaDecodeRequest& request);
