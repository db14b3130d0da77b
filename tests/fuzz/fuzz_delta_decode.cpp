// Fuzzes the payload decoder, which reads downloaded frames against installed files: whatever the
// frame, it writes only inside the target's buffer, reports progress that only grows and stays in it,
// and Done means the last report was the whole target.
// Input: target size (2 bytes, little-endian), base length (1 byte), base bytes, then the payload.
#include "deltas/delta_decode.h"
#include "fuzz_support.h"

namespace {

struct Progress {
    size_t last;
    size_t targetSize;
};

void checkProgress(void* context, size_t written) {
    Progress* progress = static_cast<Progress*>(context);
    FUZZ_CHECK(written > progress->last && written <= progress->targetSize);
    progress->last = written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    size_t targetSize = data[0] | static_cast<size_t>(data[1]) << 8;
    size_t baseSize = data[2];
    if (size - 3 < baseSize) return 0;
    // Copies of exactly their size, so a read or write past either end is seen.
    std::vector<uint8_t> base(data + 3, data + 3 + baseSize);
    std::vector<uint8_t> payload(data + 3 + baseSize, data + size);
    std::vector<uint8_t> output(targetSize);
    Progress progress{0, targetSize};
    DeltaDecodeRequest request{baseSize ? base.data() : nullptr, baseSize, payload.data(), payload.size(),
                               output.data(), targetSize, checkProgress, &progress};
    DeltaDecode result = decodeDeltaPayload(request);
    FUZZ_CHECK(result != DeltaDecode::Done || progress.last == targetSize);
    return 0;
}
