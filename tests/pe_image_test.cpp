// The whole-image check that keeps a cut or damaged launcher from being published or swapped in, on
// images built here field by field: every cut is refused, whatever follows the image is not, and each
// part the loader or the signer reads must lie inside the file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/pe_version.h"

namespace {

const uint32_t kPeOffset = 0x40;
const uint32_t kOptional = kPeOffset + 4 + 20;
const uint32_t kHeadersSize = 0x200;
const uint32_t kSectionSize = 0x200;
const uint32_t kSymbolCount = 2;
const uint32_t kStringsSize = 10;
const uint32_t kCertificateSize = 16;

void put16(std::vector<uint8_t>& image, size_t at, uint32_t value) {
    image[at] = value & 0xff;
    image[at + 1] = (value >> 8) & 0xff;
}

void put32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = (value >> (8 * i)) & 0xff;
}

struct Layout {
    bool pe32Plus;
    uint32_t sectionTable;
    uint32_t symbolTable;
    uint32_t certificate;
};

// Headers, two sections of raw data, the COFF symbols with their string table, then a certificate:
// the file ends with the last of them, as a signed build does.
std::vector<uint8_t> buildImage(bool pe32Plus, Layout* layout) {
    uint32_t optionalSize = pe32Plus ? 240 : 224;
    uint32_t directories = kOptional + (pe32Plus ? 112 : 96);
    uint32_t sectionTable = kOptional + optionalSize;
    uint32_t symbolTable = kHeadersSize + 2 * kSectionSize;
    uint32_t certificate = symbolTable + kSymbolCount * 18 + kStringsSize;
    std::vector<uint8_t> image(certificate + kCertificateSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3c, kPeOffset);
    memcpy(&image[kPeOffset], "PE\0\0", 4);
    put16(image, kPeOffset + 4, pe32Plus ? 0x8664 : 0x14c);
    put16(image, kPeOffset + 6, 2);
    put32(image, kPeOffset + 12, symbolTable);
    put32(image, kPeOffset + 16, kSymbolCount);
    put16(image, kPeOffset + 20, optionalSize);
    put16(image, kOptional, pe32Plus ? 0x20b : 0x10b);
    put32(image, kOptional + 60, kHeadersSize);
    put32(image, directories - 4, 16);
    put32(image, directories + 8 * 4, certificate);
    put32(image, directories + 8 * 4 + 4, kCertificateSize);
    for (uint32_t i = 0; i < 2; ++i) {
        uint32_t header = sectionTable + 40 * i;
        put32(image, header + 12, 0x1000 * (i + 1));  // virtual address
        put32(image, header + 16, kSectionSize);
        put32(image, header + 20, kHeadersSize + kSectionSize * i);
    }
    put32(image, symbolTable + kSymbolCount * 18, kStringsSize);
    *layout = Layout{pe32Plus, sectionTable, symbolTable, certificate};
    return image;
}

bool isWhole(const std::vector<uint8_t>& image) {
    // A copy of exactly its size on the heap, so that AddressSanitizer sees any read past the end.
    std::vector<uint8_t> copy(image);
    return isWholePeImage(copy.data(), copy.size());
}

TEST(PeImage, EveryCutIsRefusedAndWhatFollowsTheImageIsNot) {
    for (bool pe32Plus : {false, true}) {
        Layout layout;
        std::vector<uint8_t> image = buildImage(pe32Plus, &layout);
        ASSERT_TRUE(isWhole(image)) << pe32Plus;
        for (size_t length = 0; length < image.size(); ++length) {
            std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<long>(length));
            ASSERT_FALSE(isWhole(cut)) << "PE32+ " << pe32Plus << ", cut to " << length;
        }
        std::vector<uint8_t> longer(image);
        longer.resize(image.size() + 4096, 0x5a);
        EXPECT_TRUE(isWhole(longer)) << pe32Plus;
    }
}

TEST(PeImage, EachPartMustLieInsideTheFile) {
    struct Damage {
        const char* what;
        void (*apply)(std::vector<uint8_t>&, const Layout&);
        bool whole;
    };
    const Damage damages[] = {
        {"a section's bytes past the end",
         [](std::vector<uint8_t>& image, const Layout& l) { put32(image, l.sectionTable + 40 + 20, 0x7ffff000); }, false},
        {"a section's size past the end",
         [](std::vector<uint8_t>& image, const Layout& l) { put32(image, l.sectionTable + 16, 0xffffffff); }, false},
        {"a section without raw data points anywhere",
         [](std::vector<uint8_t>& image, const Layout& l) {
             put32(image, l.sectionTable + 16, 0);
             put32(image, l.sectionTable + 20, 0xfffffff0);
         }, true},
        {"no sections",
         [](std::vector<uint8_t>& image, const Layout&) { put16(image, kPeOffset + 6, 0); }, false},
        {"a section table beyond the headers",
         [](std::vector<uint8_t>& image, const Layout&) { put32(image, kOptional + 60, 0x100); }, false},
        {"headers larger than the file",
         [](std::vector<uint8_t>& image, const Layout&) { put32(image, kOptional + 60, 0x10000); }, false},
        {"symbols past the end",
         [](std::vector<uint8_t>& image, const Layout&) { put32(image, kPeOffset + 16, 0x1000000); }, false},
        {"a string table longer than the file",
         [](std::vector<uint8_t>& image, const Layout& l) { put32(image, l.symbolTable + kSymbolCount * 18, 0x100000); },
         false},
        {"no symbols at all",
         [](std::vector<uint8_t>& image, const Layout&) { put32(image, kPeOffset + 12, 0); }, true},
        {"a certificate past the end",
         [](std::vector<uint8_t>& image, const Layout& l) {
             put32(image, kOptional + (l.pe32Plus ? 112 : 96) + 8 * 4 + 4, kCertificateSize + 1);
         }, false},
        {"a certificate offset that wraps",
         [](std::vector<uint8_t>& image, const Layout& l) {
             put32(image, kOptional + (l.pe32Plus ? 112 : 96) + 8 * 4, 0xfffffff8);
         }, false},
        {"no certificate directory",
         [](std::vector<uint8_t>& image, const Layout& l) { put32(image, kOptional + (l.pe32Plus ? 108 : 92), 4); },
         true},
        {"not a PE signature",
         [](std::vector<uint8_t>& image, const Layout&) { image[kPeOffset + 1] = 'X'; }, false},
        {"a PE offset past the end",
         [](std::vector<uint8_t>& image, const Layout&) { put32(image, 0x3c, 0xfffffff0); }, false},
    };
    for (bool pe32Plus : {false, true}) {
        for (const Damage& damage : damages) {
            Layout layout;
            std::vector<uint8_t> image = buildImage(pe32Plus, &layout);
            damage.apply(image, layout);
            EXPECT_EQ(isWhole(image), damage.whole) << damage.what << ", PE32+ " << pe32Plus;
        }
    }
}

}  // namespace
