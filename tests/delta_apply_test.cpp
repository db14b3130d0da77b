// Applying payloads made by the zstd command line (tests/support/make_delta_payloads.py) under real
// Windows file mappings: a rebuilt file is the target byte for byte, and a payload that does not give
// the target's bytes leaves no part file behind and the installed file as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "deltas/delta_apply.h"
#include "support/temp_folder.h"

namespace {

std::string fixture(const char* name) { return readWholeFile(std::string(VYR_DELTA_FIXTURE_DIR) + "/" + name); }

void digestFromHex(const std::string& hex, uint8_t digest[kSha256Size]) {
    ASSERT_EQ(hex.size(), 2u * kSha256Size);
    for (size_t i = 0; i < kSha256Size; ++i) digest[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
}

std::wstring wide(const std::string& utf8) {
    wchar_t text[MAX_PATH] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text, MAX_PATH);
    return text;
}

// Through the wide API, since the names are beyond what the ANSI code page holds.
void writeFile(const std::string& utf8Path, const std::string& content) {
    HANDLE file = CreateFileW(wide(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    CloseHandle(file);
}

std::string readFile(const std::string& utf8Path) {
    std::string content;
    HANDLE file = CreateFileW(wide(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return content;
    char chunk[65536];
    DWORD count = 0;
    while (ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0) content.append(chunk, count);
    CloseHandle(file);
    return content;
}

bool exists(const std::string& utf8Path) { return GetFileAttributesW(wide(utf8Path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void recordProgress(void* context, uint64_t written, uint64_t total) {
    auto* last = static_cast<std::pair<uint64_t, uint64_t>*>(context);
    EXPECT_GE(written, last->first);
    *last = {written, total};
}

class DeltaApplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = fixture("base.bin");
        target = fixture("target.bin");
        ASSERT_FALSE(base.empty());
        ASSERT_FALSE(target.empty());
        digestFromHex(fixture("target.sha256"), targetSha256);
        // A game file named beyond ASCII and beyond the ANSI code page: Cyrillic, CJK and an emoji.
        installed = folder.path() + "\\\xD0\x9A\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0 \xE5\x9C\xB0\xE5\x9B\xBE \xF0\x9F\x97\xBA.pak";
        payload = installed + ".vyr-delta";
        part = installed + ".vyr-part";
        writeFile(installed, base);
        writeFile(payload, fixture("delta.zst"));
    }
    void TearDown() override {
        for (const std::string& path : {installed, payload, part}) DeleteFileW(wide(path).c_str());
    }

    DeltaApply apply(const char* basePath, uint64_t size, const uint8_t* sha256) {
        progress = {0, 0};
        DeltaApplyRequest request{basePath, payload.c_str(), part.c_str(), size, sha256, recordProgress, &progress};
        return applyDeltaPayload(request);
    }

    TempFolder folder;
    std::string base, target, installed, payload, part;
    uint8_t targetSha256[kSha256Size];
    std::pair<uint64_t, uint64_t> progress{0, 0};
};

TEST_F(DeltaApplyTest, DeltaAndWholePayloadsRebuildTheTargetByteForByte) {
    ASSERT_EQ(apply(installed.c_str(), target.size(), targetSha256), DeltaApply::Done);
    EXPECT_TRUE(readFile(part) == target);
    EXPECT_TRUE(readFile(installed) == base) << "the base was changed";
    EXPECT_EQ(progress.first, target.size());
    EXPECT_EQ(progress.second, target.size());

    uint8_t digest[kSha256Size];
    uint64_t size = 0;
    ASSERT_TRUE(hashInstalledFile(part.c_str(), digest, &size));
    EXPECT_EQ(size, target.size());
    EXPECT_EQ(memcmp(digest, targetSha256, kSha256Size), 0);

    writeFile(payload, fixture("whole.zst"));
    writeFile(part, "left by an earlier run");
    ASSERT_EQ(apply(nullptr, target.size(), targetSha256), DeltaApply::Done);
    EXPECT_TRUE(readFile(part) == target);
}

TEST_F(DeltaApplyTest, APayloadThatDoesNotGiveTheTargetLeavesNoPartAndTheBaseAsItWas) {
    uint8_t wrongSha256[kSha256Size];
    memcpy(wrongSha256, targetSha256, kSha256Size);
    wrongSha256[kSha256Size - 1] ^= 1;
    writeFile(part, "left by an earlier run");
    EXPECT_EQ(apply(installed.c_str(), target.size(), wrongSha256), DeltaApply::Mismatch);
    EXPECT_FALSE(exists(part));

    EXPECT_EQ(apply(installed.c_str(), target.size() + 1, targetSha256), DeltaApply::Corrupt);
    EXPECT_FALSE(exists(part));
    EXPECT_EQ(apply(nullptr, target.size(), targetSha256), DeltaApply::Corrupt);  // needs its base
    EXPECT_FALSE(exists(part));

    std::string modded = base;
    modded[modded.size() / 2] ^= 1;  // a base that is not the one the delta was made from
    std::string moddedPath = folder.path() + "\\modded.pak";
    writeFile(moddedPath, modded);
    EXPECT_EQ(apply(moddedPath.c_str(), target.size(), targetSha256), DeltaApply::Corrupt);
    EXPECT_FALSE(exists(part));
    EXPECT_TRUE(readFile(installed) == base);

    std::string missing = folder.path() + "\\missing.pak";
    EXPECT_EQ(apply(missing.c_str(), target.size(), targetSha256), DeltaApply::BaseUnreadable);
    DeltaApplyRequest noPayload{installed.c_str(), missing.c_str(), part.c_str(), target.size(), targetSha256,
                                nullptr, nullptr};
    EXPECT_EQ(applyDeltaPayload(noPayload), DeltaApply::PayloadUnreadable);
    EXPECT_FALSE(exists(part));
}

}  // namespace
