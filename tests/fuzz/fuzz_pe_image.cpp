// Fuzzes the PE reader that vyr-publish and Updater trust with a launcher: neither the whole-image check
// nor the version resource walk may read outside the bytes, and what follows a whole image cannot make
// it less whole.
#include <vector>

#include "formats/pe_version.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);  // exactly its size on the heap, for AddressSanitizer
    bool whole = isWholePeImage(image.data(), image.size());
    VersionQuad version{};
    bool versioned = readPeFileVersion(image.data(), image.size(), &version);
    FUZZ_CHECK(whole == isWholePeImage(image.data(), image.size()));

    image.resize(size + 64, 0);  // an overlay, as an installer carries
    if (whole) FUZZ_CHECK(isWholePeImage(image.data(), image.size()));
    VersionQuad again{};
    if (versioned) {
        FUZZ_CHECK(readPeFileVersion(image.data(), image.size(), &again));
        FUZZ_CHECK(memcmp(&version, &again, sizeof version) == 0);
    }
    return 0;
}
