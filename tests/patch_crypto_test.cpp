// CNG hashing and signature checks against independent answers: the published SHA-256 vectors, and
// keys, signatures and a patch index made by the openssl command line (tests/support/openssl_sign.py).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "verification/patch_crypto.h"

namespace {

std::string fixture(const char* name) {
    std::ifstream file(std::string(VYR_CRYPTO_FIXTURE_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void hexBytes(const std::string& hex, uint8_t* bytes, size_t count) {
    ASSERT_TRUE(parseHex(hex.c_str(), hex.size(), bytes, count)) << hex;
}

std::string digestHex(const uint8_t digest[kSha256Size]) {
    char text[2 * kSha256Size + 1];
    formatHex(digest, kSha256Size, text);
    return text;
}

TEST(PatchCrypto, Sha256MatchesThePublishedVectorsWhetherFedAtOnceInPiecesOrFromAFile) {
    uint8_t digest[kSha256Size];
    ASSERT_TRUE(sha256OfBytes("abc", 3, digest));
    EXPECT_EQ(digestHex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_TRUE(sha256OfBytes("", 0, digest));
    EXPECT_EQ(digestHex(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    Sha256Stream stream;
    ASSERT_TRUE(beginSha256(&stream));
    ASSERT_TRUE(addSha256(&stream, "a", 1));
    ASSERT_TRUE(addSha256(&stream, "", 0));
    ASSERT_TRUE(addSha256(&stream, "bc", 2));
    ASSERT_TRUE(finishSha256(&stream, digest));
    EXPECT_EQ(digestHex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    std::string data = fixture("data.bin");
    uint8_t fromBytes[kSha256Size];
    ASSERT_TRUE(sha256OfBytes(data.data(), data.size(), fromBytes));
    uint64_t size = 0;
    ASSERT_TRUE(sha256OfFile((std::string(VYR_CRYPTO_FIXTURE_DIR) + "/data.bin").c_str(), &size, digest));
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(memcmp(digest, fromBytes, kSha256Size), 0);
    EXPECT_FALSE(sha256OfFile("Z:\\no\\such\\file", &size, digest));
}

TEST(PatchCrypto, OpensslSignatureVerifiesAndAnyFlippedByteOrOtherKeyFails) {
    uint8_t key[kP256PublicKeySize], otherKey[kP256PublicKeySize], signature[kP256SignatureSize];
    hexBytes(fixture("key.hex"), key, sizeof key);
    hexBytes(fixture("other-key.hex"), otherKey, sizeof otherKey);
    hexBytes(fixture("data.sig"), signature, sizeof signature);
    std::string data = fixture("data.bin");
    ASSERT_FALSE(data.empty());

    EXPECT_TRUE(verifyP256Signature(key, data.data(), data.size(), signature));
    EXPECT_FALSE(verifyP256Signature(otherKey, data.data(), data.size(), signature));
    for (size_t at : {size_t{0}, data.size() / 2, data.size() - 1}) {
        std::string changed = data;
        changed[at] ^= 0x01;
        EXPECT_FALSE(verifyP256Signature(key, changed.data(), changed.size(), signature)) << "data byte " << at;
    }
    for (size_t at : {size_t{0}, size_t{40}, size_t{kP256SignatureSize - 1}}) {
        uint8_t changed[kP256SignatureSize];
        memcpy(changed, signature, sizeof changed);
        changed[at] ^= 0x80;
        EXPECT_FALSE(verifyP256Signature(key, data.data(), data.size(), changed)) << "signature byte " << at;
    }
    uint8_t offCurve[kP256PublicKeySize];
    memcpy(offCurve, key, sizeof offCurve);
    offCurve[kP256PublicKeySize - 1] ^= 0x01;
    EXPECT_FALSE(verifyP256Signature(offCurve, data.data(), data.size(), signature));
}

TEST(PatchCrypto, IndexSignedByOpensslAloneVerifies) {
    uint8_t key[kP256PublicKeySize], otherKey[kP256PublicKeySize];
    hexBytes(fixture("key.hex"), key, sizeof key);
    hexBytes(fixture("other-key.hex"), otherKey, sizeof otherKey);
    std::string text = fixture("PatchIndex.txt");

    PatchIndex index;
    ASSERT_TRUE(verifyPatchIndexText(text.data(), text.size(), key, &index));
    const PatchIndexFile* launcher = findPatchIndexFile(index, "Launcher/VYRLauncher.exe");
    ASSERT_NE(launcher, nullptr);
    uint8_t digest[kSha256Size];
    ASSERT_TRUE(sha256OfBytes("MZ", 2, digest));
    EXPECT_EQ(launcher->size, 2u);
    EXPECT_EQ(memcmp(launcher->sha256, digest, kSha256Size), 0);

    EXPECT_FALSE(verifyPatchIndexText(text.data(), text.size(), otherKey, &index));
    std::string changed = text;
    size_t sizeField = changed.find(" 3 Player/");  // a well-formed line with another size
    ASSERT_NE(sizeField, std::string::npos);
    changed[sizeField + 1] = '4';
    EXPECT_FALSE(verifyPatchIndexText(changed.data(), changed.size(), key, &index));
}

}  // namespace
