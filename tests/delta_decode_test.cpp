// The payload decoder against frames made by the host's libzstd as the publisher makes them (the old
// file as reference prefix, long-distance matching, a checksum): exact output, block-wise progress, and
// every frame that would give other bytes or another length refused.
#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <random>
#include <vector>

#include "deltas/delta_decode.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes randomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator() >> 24);
    return bytes;
}

// A new build of a file: a changed stretch, an inserted one, and a tail that did not exist before.
Bytes editedCopy(const Bytes& base) {
    Bytes target(base.begin(), base.begin() + base.size() / 3);
    Bytes inserted = randomBytes(5000, 7);
    target.insert(target.end(), inserted.begin(), inserted.end());
    target.insert(target.end(), base.begin() + base.size() / 3 + 100, base.end());
    for (size_t i = 0; i < target.size(); i += 4096) target[i] ^= 0x5A;
    Bytes tail = randomBytes(300000, 9);
    target.insert(target.end(), tail.begin(), tail.end());
    return target;
}

Bytes encode(const Bytes& target, const Bytes* base) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 3);
    ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 23);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    if (base) ZSTD_CCtx_refPrefix(context, base->data(), base->size());
    Bytes frame(ZSTD_compressBound(target.size()));
    size_t size = ZSTD_compress2(context, frame.data(), frame.size(), target.data(), target.size());
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
    frame.resize(ZSTD_isError(size) ? 0 : size);
    return frame;
}

struct Decoded {
    DeltaDecode result;
    Bytes output;
    std::vector<size_t> progress;
};

void recordProgress(void* context, size_t written) { static_cast<Decoded*>(context)->progress.push_back(written); }

// The output buffer is exactly targetSize long, so AddressSanitizer sees any write past the target.
Decoded decode(const Bytes& frame, const Bytes* base, size_t targetSize) {
    Decoded decoded{DeltaDecode::Corrupt, Bytes(targetSize), {}};
    DeltaDecodeRequest request{base ? base->data() : nullptr, base ? base->size() : 0, frame.data(), frame.size(),
                               decoded.output.data(), targetSize, recordProgress, &decoded};
    decoded.result = decodeDeltaPayload(request);
    return decoded;
}

class DeltaDecodeTest : public ::testing::Test {
protected:
    // Begins like a zstd dictionary: as a prefix it is still raw bytes, as the encoder took it.
    Bytes base = [] {
        Bytes bytes = randomBytes(2 << 20, 3);
        const uint8_t dictionaryMagic[] = {0x37, 0xA4, 0x30, 0xEC};
        std::copy(std::begin(dictionaryMagic), std::end(dictionaryMagic), bytes.begin());
        return bytes;
    }();
    Bytes target = editedCopy(base);
};

TEST_F(DeltaDecodeTest, DeltaAndWholeFramesGiveTheTargetWithProgressPerBlock) {
    Bytes delta = encode(target, &base);
    ASSERT_LT(delta.size(), target.size() / 4) << "the frame does not use its prefix";
    Decoded decoded = decode(delta, &base, target.size());
    ASSERT_EQ(decoded.result, DeltaDecode::Done);
    EXPECT_TRUE(decoded.output == target);
    ASSERT_GT(decoded.progress.size(), 10u);
    EXPECT_TRUE(std::is_sorted(decoded.progress.begin(), decoded.progress.end()));
    EXPECT_EQ(decoded.progress.back(), target.size());

    Decoded whole = decode(encode(target, nullptr), nullptr, target.size());
    ASSERT_EQ(whole.result, DeltaDecode::Done);
    EXPECT_TRUE(whole.output == target);

    Bytes empty;
    EXPECT_EQ(decode(encode(empty, &base), &base, 0).result, DeltaDecode::Done);
}

TEST_F(DeltaDecodeTest, FramesOfAnotherLengthOrBaseOrShapeAreCorrupt) {
    Bytes delta = encode(target, &base);
    EXPECT_EQ(decode(delta, &base, target.size() + 1).result, DeltaDecode::Corrupt);  // decodes to fewer bytes
    EXPECT_EQ(decode(delta, &base, target.size() - 1).result, DeltaDecode::Corrupt);  // to more
    EXPECT_EQ(decode(delta, &base, 0).result, DeltaDecode::Corrupt);

    Bytes otherBase = base;
    otherBase[base.size() / 2] ^= 1;
    EXPECT_EQ(decode(delta, &otherBase, target.size()).result, DeltaDecode::Corrupt);
    EXPECT_EQ(decode(delta, nullptr, target.size()).result, DeltaDecode::Corrupt);

    Bytes cut(delta.begin(), delta.end() - 1);
    EXPECT_EQ(decode(cut, &base, target.size()).result, DeltaDecode::Corrupt);
    Bytes trailing = delta;
    trailing.push_back(0);
    EXPECT_EQ(decode(trailing, &base, target.size()).result, DeltaDecode::Corrupt);
    Bytes twoFrames = delta;
    Bytes emptyFrame = encode(Bytes(), nullptr);
    twoFrames.insert(twoFrames.end(), emptyFrame.begin(), emptyFrame.end());
    EXPECT_EQ(decode(twoFrames, &base, target.size()).result, DeltaDecode::Corrupt);
    // A skippable frame in front would decode to nothing and hide what follows.
    Bytes skippable = {0x50, 0x2A, 0x4D, 0x18, 4, 0, 0, 0, 1, 2, 3, 4};
    skippable.insert(skippable.end(), delta.begin(), delta.end());
    EXPECT_EQ(decode(skippable, &base, target.size()).result, DeltaDecode::Corrupt);
}

}  // namespace
