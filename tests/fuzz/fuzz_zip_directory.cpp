// Fuzzes the central directory reader with the input as a whole archive file: it must never read
// outside the file, and the regions it accepts must lie inside the file, apart from each other.
#include <algorithm>
#include <cstring>

#include "fuzz_support.h"
#include "archives/zip_directory.h"

namespace {

struct Bytes {
    const uint8_t* data;
    size_t size;
};

bool readFromInput(void* context, uint64_t offset, void* buffer, size_t size) {
    const Bytes* bytes = static_cast<const Bytes*>(context);
    if (offset > bytes->size || size > bytes->size - offset) return false;
    memcpy(buffer, bytes->data + offset, size);
    return true;
}

// Each region starts after a 30-byte local header and ends at the next one, so sorted regions
// leave at least those 30 bytes between them.
void checkRegions(std::vector<ZipEntryRegion> regions, size_t fileSize) {
    std::sort(regions.begin(), regions.end(),
              [](const ZipEntryRegion& a, const ZipEntryRegion& b) { return a.dataFloor < b.dataFloor; });
    for (size_t i = 0; i < regions.size(); ++i) {
        FUZZ_CHECK(regions[i].dataFloor >= 30);
        FUZZ_CHECK(regions[i].dataFloor <= regions[i].dataLimit);
        FUZZ_CHECK(regions[i].dataLimit <= fileSize);
        if (i + 1 < regions.size()) FUZZ_CHECK(regions[i].dataLimit + 30 <= regions[i + 1].dataFloor);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap copy of exactly the input's size, so that AddressSanitizer sees any read past its end.
    std::vector<uint8_t> copy(data, data + size);
    Bytes bytes = {copy.data(), copy.size()};
    ZipSource source = {readFromInput, &bytes, copy.size()};
    std::vector<ZipEntryRegion> regions;
    ZipDirectoryStatus status = readZipDirectory(source, &regions);
    if (status == kZipDirectoryRead) checkRegions(regions, size);
    else FUZZ_CHECK(regions.empty());
    return 0;
}
