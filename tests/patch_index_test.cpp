// The patch index text: what the writer makes reads back the same, the signed span ends exactly
// before the signature line, and every departure from the format refuses the whole index.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "formats/patch_index.h"

namespace {

PatchIndexFile fileLine(const char* path, uint64_t size, uint8_t fill) {
    PatchIndexFile f{};
    memset(f.sha256, fill, sizeof f.sha256);
    f.size = size;
    snprintf(f.path, sizeof f.path, "%s", path);
    return f;
}

std::string sampleIndex() {
    uint8_t manifest[kSha256Size];
    memset(manifest, 0xab, sizeof manifest);
    uint8_t signature[kP256SignatureSize];
    for (int i = 0; i < kP256SignatureSize; ++i) signature[i] = static_cast<uint8_t>(i);
    std::string body = formatPatchIndexBody(
        manifest, {fileLine("Player/b dir/Patch 2.zip", 0, 2), fileLine("Launcher/VYRLauncher.exe", 9007199254740993ull, 1)});
    return body + formatSignatureLine(signature);
}

bool parses(const std::string& text) {
    PatchIndex index;
    return parsePatchIndex(text.data(), text.size(), &index);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

TEST(PatchIndex, WrittenIndexReadsBackSortedWithItsSignedSpan) {
    std::string text = sampleIndex();
    PatchIndex index;
    ASSERT_TRUE(parsePatchIndex(text.data(), text.size(), &index));
    ASSERT_EQ(index.files.size(), 2u);
    EXPECT_STREQ(index.files[0].path, "Launcher/VYRLauncher.exe");  // sorted by path
    EXPECT_EQ(index.files[0].size, 9007199254740993ull);
    EXPECT_EQ(index.files[1].sha256[31], 2);
    EXPECT_EQ(index.manifestSha256[0], 0xab);
    EXPECT_EQ(index.signature[63], 63);
    EXPECT_EQ(text.compare(index.signedLength, 10, "signature "), 0);
    ASSERT_NE(findPatchIndexFile(index, "Player/b dir/Patch 2.zip"), nullptr);
    EXPECT_EQ(findPatchIndexFile(index, "player/b dir/Patch 2.zip"), nullptr);  // case-sensitive
    EXPECT_TRUE(parses(text.substr(0, text.size() - 1)));                      // no final line feed
}

TEST(PatchIndex, AnyDepartureFromTheFormatRefusesTheWholeIndex) {
    const std::string good = sampleIndex();
    const std::string hash = std::string(64, 'a');
    const std::string variants[] = {
        replaced(good, "VYR-PATCH-INDEX 1", "VYR-PATCH-INDEX 2"),
        replaced(good, "manifest abab", "manifest ABab"),
        replaced(good, "manifest ", "manifest  "),
        replaced(good, " 0 Player/", " 00 Player/"),
        replaced(good, " 0 Player/", " -0 Player/"),
        replaced(good, "9007199254740993", "99999999999999999999"),
        replaced(good, "Player/b dir/", "Player/../"),
        replaced(good, "Player/b dir/", "Player\\b dir\\"),
        replaced(good, "Player/b dir/", "/Player/"),
        replaced(good, "\nfile ", "\nfile " + hash + " 1 Launcher/VYRLauncher.exe\nfile "),  // a path twice
        replaced(good, "\nsignature ", "\r\nsignature "),
        replaced(good, "\nsignature 00", "\nsignature 0"),
        replaced(good, "\nfile ", "\nfiles "),
        good + "file " + hash + " 1 Player/late.zip\n",  // after the signature
        good.substr(0, good.find("signature ")),         // unsigned
        std::string(),
    };
    for (const std::string& v : variants) EXPECT_FALSE(parses(v)) << v;
}

TEST(PatchIndex, AnIndexWithoutSignatureReadsOnlyWhenTheReaderAllowsIt) {
    const std::string good = sampleIndex();
    const std::string unsigned_ = good.substr(0, good.find("signature "));
    PatchIndex index;
    ASSERT_TRUE(parsePatchIndex(unsigned_.data(), unsigned_.size(), &index, IndexSignature::Optional));
    EXPECT_FALSE(index.isSigned);
    EXPECT_EQ(index.signedLength, unsigned_.size());
    ASSERT_TRUE(parsePatchIndex(good.data(), good.size(), &index, IndexSignature::Optional));
    EXPECT_TRUE(index.isSigned);
    const std::string header = "VYR-PATCH-INDEX 1\n";  // the manifest line stays required
    EXPECT_FALSE(parsePatchIndex(header.data(), header.size(), &index, IndexSignature::Optional));
}

TEST(PatchIndex, ManifestNamesMapToPlayerPathsWithForwardSlashes) {
    char path[kIndexPathSize];
    ASSERT_TRUE(playerIndexPath("Data\\Maps/a.zip", path, sizeof path));
    EXPECT_STREQ(path, "Player/Data/Maps/a.zip");
    EXPECT_FALSE(playerIndexPath("..\\x.zip", path, sizeof path));
    EXPECT_FALSE(playerIndexPath(std::string(250, 'n').c_str(), path, sizeof path));
}

}  // namespace
