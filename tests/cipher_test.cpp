// Salted AES-256 cipher and the configuration transform: the FIPS-197 known answer, the message
// layout, damaged messages, and round trips, checked block by block against the layout.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cipher/aes_cipher.h"
#include "cipher/config_transform.h"
#include "settings/launcher_settings.h"

namespace {

ByteArray bytesOf(const std::string& text) { return ByteArray(text.begin(), text.end()); }

ByteArray hexBytes(const char* hex) {
    ByteArray bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return bytes;
}

ByteArray countingBytes(size_t count, uint8_t start) {
    ByteArray bytes;
    for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(start + 7 * i));
    return bytes;
}

const char kConfigKeyText[] = "q7Rv#Lomxet";

// FIPS-197 Appendix C.3.
TEST(AesBlock, MatchesFips197AppendixC3BothWays) {
    AesCipher cipher(hexBytes("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
    ByteArray plain = hexBytes("00112233445566778899aabbccddeeff");
    ByteArray expected = hexBytes("8ea2b7ca516745bfeafc49904b496089");
    ByteArray block = plain;
    cipher.encryptBlock(block.data());
    EXPECT_EQ(block, expected);
    cipher.decryptBlock(block.data());
    EXPECT_EQ(block, plain);
}

// The block functions must leave no state behind: the same block twice gives the same answer.
TEST(AesBlock, RepeatedBlocksGiveTheSameAnswer) {
    AesCipher cipher(bytesOf("0123456789abcdef0123456789abcdef"));
    ByteArray first = countingBytes(16, 3), second = countingBytes(16, 3);
    cipher.encryptBlock(first.data());
    cipher.encryptBlock(second.data());
    EXPECT_EQ(first, second);
    cipher.decryptBlock(first.data());
    EXPECT_EQ(first, countingBytes(16, 3));
}

struct LayoutCase {
    const char* name;
    size_t keyLength;
    size_t plainLength;
    size_t saltLength;
    uint8_t padCount;
    size_t messageLength;
};

// Every block of the message must be the plain text's block under key + salt (checked with a
// separate 32-byte-key cipher, so the layout is verified without decryptBytes).
TEST(SaltedMessage, LayoutSizesAndBlocks) {
    const LayoutCase cases[] = {
        {"empty text", 11, 0, 21, 0, 22},   {"one byte", 11, 1, 21, 15, 38},   {"twelve", 11, 12, 21, 4, 38},
        {"one block", 11, 16, 21, 0, 38},   {"seventeen", 11, 17, 21, 15, 54}, {"empty key", 0, 12, 32, 4, 49},
        {"32-byte key", 32, 12, 0, 4, 17},  {"40-byte key", 40, 33, 0, 15, 49}, {"31-byte key", 31, 32, 1, 0, 34},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        ByteArray key = countingBytes(c.keyLength, 0x41);
        ByteArray plain = countingBytes(c.plainLength, 0x90);
        ByteArray message;
        ASSERT_EQ(encryptBytes(key, plain, message), c.messageLength);
        ASSERT_EQ(message.size(), c.messageLength);
        EXPECT_EQ(message[c.saltLength], c.padCount);

        ByteArray cipherKey(key.begin(), key.begin() + (c.keyLength < 32 ? c.keyLength : 32));
        cipherKey.insert(cipherKey.end(), message.begin(), message.begin() + c.saltLength);
        AesCipher blockCipher(cipherKey);
        ByteArray padded = plain;
        padded.resize(plain.size() + c.padCount, 0);
        for (size_t offset = c.saltLength + 1; offset < message.size(); offset += 16) {
            ByteArray block(message.begin() + offset, message.begin() + offset + 16);
            blockCipher.decryptBlock(block.data());
            size_t plainOffset = offset - c.saltLength - 1;
            EXPECT_EQ(block, ByteArray(padded.begin() + plainOffset, padded.begin() + plainOffset + 16));
        }
        ByteArray back;
        EXPECT_EQ(decryptBytes(key, message, back), c.plainLength);
        EXPECT_EQ(back, plain);
    }
}

TEST(SaltedMessage, SaltIsTheLowByteOfEachRandDraw) {
    srand(12345);
    ByteArray expected;
    for (int i = 0; i < 21; ++i) expected.push_back(static_cast<uint8_t>(rand() & 0xff));
    srand(12345);
    ByteArray message;
    encryptBytes(bytesOf(kConfigKeyText), bytesOf("[Version] 1\n"), message);
    EXPECT_EQ(ByteArray(message.begin(), message.begin() + 21), expected);
}

TEST(SaltedMessage, OnlyTheFirst32KeyBytesCount) {
    ByteArray longKey = countingBytes(45, 1);
    ByteArray prefix(longKey.begin(), longKey.begin() + 32);
    ByteArray plain = bytesOf("no salt at all: deterministic");
    ByteArray fromLong, fromPrefix;
    encryptBytes(longKey, plain, fromLong);
    encryptBytes(prefix, plain, fromPrefix);
    EXPECT_EQ(fromLong, fromPrefix);
}

TEST(SaltedMessage, EncipheringTwiceDiffersAndBothDecipher) {
    ByteArray key = bytesOf(kConfigKeyText), plain = bytesOf("[Version] 10005\n");
    ByteArray first, second;
    encryptBytes(key, plain, first);
    encryptBytes(key, plain, second);
    EXPECT_NE(first, second);
    ByteArray firstBack, secondBack;
    decryptBytes(key, first, firstBack);
    decryptBytes(key, second, secondBack);
    EXPECT_EQ(firstBack, plain);
    EXPECT_EQ(secondBack, plain);
}

TEST(SaltedMessage, RoundTripsOverKeyAndTextLengths) {
    for (size_t keyLength : {0, 1, 11, 31, 32, 33}) {
        for (size_t plainLength = 0; plainLength <= 50; ++plainLength) {
            SCOPED_TRACE(::testing::Message() << "key " << keyLength << " text " << plainLength);
            ByteArray key = countingBytes(keyLength, 0x20), plain = countingBytes(plainLength, 0xF0);
            ByteArray message, back;
            encryptBytes(key, plain, message);
            decryptBytes(key, message, back);
            EXPECT_EQ(back, plain);
        }
    }
}

TEST(SaltedMessage, OutputIsAppendedNotReplaced) {
    ByteArray key = bytesOf(kConfigKeyText);
    ByteArray message = {0xAA, 0xBB};
    EXPECT_EQ(encryptBytes(key, bytesOf("abc"), message), 2u + 38u);
    EXPECT_EQ(message[0], 0xAA);
    ByteArray back = {0x01};
    EXPECT_EQ(decryptBytes(key, ByteArray(message.begin() + 2, message.end()), back), 4u);
    EXPECT_EQ(back, (ByteArray{0x01, 'a', 'b', 'c'}));
}

// Feeding a message a byte at a time must give what one call gives: the header and block
// collection has to carry across calls.
TEST(SaltedMessage, StreamingInSmallPiecesMatchesOneShot) {
    ByteArray key = bytesOf(kConfigKeyText), plain = countingBytes(37, 5);
    srand(7);
    ByteArray oneShot;
    encryptBytes(key, plain, oneShot);

    srand(7);
    AesCipher encipher(key);
    ByteArray streamed;
    encipher.beginEncrypt(static_cast<uint32_t>(plain.size()), streamed);
    for (uint8_t byte : plain) encipher.encryptMore(ByteArray{byte}, streamed);
    encipher.finishEncrypt(streamed);
    EXPECT_EQ(streamed, oneShot);

    AesCipher decipher(key);
    EXPECT_EQ(decipher.beginDecrypt(static_cast<uint32_t>(oneShot.size())), oneShot.size() - 21);
    ByteArray back;
    for (size_t i = 0; i < oneShot.size(); i += 5) {
        size_t end = i + 5 < oneShot.size() ? i + 5 : oneShot.size();
        decipher.decryptMore(ByteArray(oneShot.begin() + i, oneShot.begin() + end), back);
    }
    EXPECT_EQ(decipher.finishDecrypt(back), plain.size());
    EXPECT_EQ(back, plain);
}

struct DamageCase {
    const char* name;
    size_t plainLength;
    long lengthChange;  // bytes cut (negative) or zero bytes added at the end
    int padOverride;    // -1 keeps the pad count
    size_t expectedLength;
};

// What a damaged message yields: the deciphered bytes that the length and pad count select,
// never more than the whole blocks present.
TEST(SaltedMessage, DamagedMessagesYieldWhatLengthAndPadCountSelect) {
    const DamageCase cases[] = {
        {"cut into the only block", 12, -5, -1, 0},
        {"cut into the second block", 17, -4, -1, 13},
        {"three bytes too many", 12, 3, -1, 15},
        {"pad count beyond the blocks", 12, 0, 200, 16},
        {"pad count 15 on a full block", 16, 0, 15, 1},
        {"header only", 0, 0, -1, 0},
        {"shorter than the header", 0, -1, -1, 0},
        {"salt cut in half", 0, -11, -1, 0},
    };
    ByteArray key = bytesOf(kConfigKeyText);
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        ByteArray plain = countingBytes(c.plainLength, 0x31);
        ByteArray message;
        encryptBytes(key, plain, message);
        if (c.lengthChange < 0)
            message.resize(message.size() - static_cast<size_t>(-c.lengthChange));
        else
            message.resize(message.size() + static_cast<size_t>(c.lengthChange), 0);
        if (c.padOverride >= 0) message[21] = static_cast<uint8_t>(c.padOverride);

        ByteArray back;
        ASSERT_EQ(decryptBytes(key, message, back), c.expectedLength);
        ByteArray padded = plain;
        padded.resize(plain.size() + 16, 0);
        EXPECT_EQ(back, ByteArray(padded.begin(), padded.begin() + c.expectedLength));
    }
}

TEST(SaltedMessage, EmptyMessageGivesNothing) {
    ByteArray back;
    EXPECT_EQ(decryptBytes(bytesOf(kConfigKeyText), ByteArray(), back), 0u);
    EXPECT_EQ(decryptBytes(ByteArray(), ByteArray(32, 9), back), 0u);
}

TEST(SaltedMessage, WrongKeyOfTheSameLengthGivesAsManyMeaninglessBytes) {
    ByteArray plain = bytesOf("[Version] 10005\n and more");
    ByteArray message, right, wrong;
    encryptBytes(bytesOf(kConfigKeyText), plain, message);
    decryptBytes(bytesOf(kConfigKeyText), message, right);
    decryptBytes(bytesOf("q7Rv#Lomxeu"), message, wrong);
    EXPECT_EQ(right, plain);
    ASSERT_EQ(wrong.size(), plain.size());
    EXPECT_NE(wrong, plain);
}

// The configuration transform, with the built-in key text unless a test swaps it.
class ConfigTransform : public ::testing::Test {
protected:
    void TearDown() override { gSettings.cipherKeyText = savedKey; }
    const char* savedKey = gSettings.cipherKeyText;
};

struct TransformCase {
    const char* text;
    int32_t contentLength;
    uint8_t padCount;
};

TEST_F(ConfigTransform, SizesPadCountsAndRoundTrip) {
    const TransformCase cases[] = {
        {"[Version] 1\n", 38, 4}, {"[Version] 10005\n", 38, 0}, {"[Version] 100000\n", 54, 15}, {"", 22, 0}};
    for (const TransformCase& c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[256] = {};
        snprintf(buffer, sizeof buffer, "%s", c.text);
        ASSERT_EQ(encipherConfig(buffer, sizeof buffer), c.contentLength);
        EXPECT_EQ(static_cast<uint8_t>(buffer[21]), c.padCount);
        int32_t textLength = decipherConfig(reinterpret_cast<unsigned char*>(buffer), c.contentLength);
        ASSERT_EQ(textLength, static_cast<int32_t>(strlen(c.text)));
        EXPECT_EQ(std::string(buffer, textLength), c.text);
    }
}

TEST_F(ConfigTransform, DecipherLeavesTheTailAndShortBuffersAlone) {
    char buffer[256] = "[Version] 1\n";
    int32_t length = encipherConfig(buffer, sizeof buffer);
    std::string enciphered(buffer, length);
    ASSERT_EQ(decipherConfig(reinterpret_cast<unsigned char*>(buffer), length), 12);
    EXPECT_EQ(std::string(buffer + 12, length - 12), enciphered.substr(12));

    for (uint32_t shortLength : {0u, 1u, 21u}) {
        std::string original = enciphered.substr(0, shortLength);
        std::string copy = original;
        EXPECT_EQ(decipherConfig(reinterpret_cast<unsigned char*>(&copy[0]), shortLength), 0);
        EXPECT_EQ(copy, original);
    }
}

TEST_F(ConfigTransform, EncipheringTwiceGivesDifferentContent) {
    char first[256] = "[Version] 10005\n", second[256] = "[Version] 10005\n";
    ASSERT_EQ(encipherConfig(first, sizeof first), 38);
    ASSERT_EQ(encipherConfig(second, sizeof second), 38);
    EXPECT_NE(std::string(first, 38), std::string(second, 38));
    EXPECT_EQ(decipherConfig(reinterpret_cast<unsigned char*>(first), 38), 16);
    EXPECT_EQ(decipherConfig(reinterpret_cast<unsigned char*>(second), 38), 16);
    EXPECT_EQ(std::string(first, 16), std::string(second, 16));
}

// A content that would not fit is refused with -1 and the buffer keeps its text.
TEST_F(ConfigTransform, NeverWritesPastTheCapacity) {
    char buffer[64] = {};
    memset(buffer, 'x', sizeof buffer);
    snprintf(buffer, sizeof buffer, "%s", "[Version] 100000\n");  // 17 bytes need 54
    EXPECT_EQ(encipherConfig(buffer, 53), -1);
    EXPECT_STREQ(buffer, "[Version] 100000\n");
    EXPECT_EQ(static_cast<unsigned char>(buffer[60]), 'x');
    EXPECT_EQ(encipherConfig(buffer, 54), 54);

    char unterminated[20];
    memset(unterminated, 'a', sizeof unterminated);
    EXPECT_EQ(encipherConfig(unterminated, sizeof unterminated), -1);
    EXPECT_EQ(std::string(unterminated, sizeof unterminated), std::string(20, 'a'));
}

struct KeyTextCase {
    const char* keyText;
    int32_t contentLength;  // for the 12-byte version-1 text
};

// The key text is measured on every call: its length moves the salt length with it.
TEST_F(ConfigTransform, KeyTextLengthSetsTheSaltLength) {
    const KeyTextCase cases[] = {
        {"abcde", 44}, {"0123456789abcdef0123456789abcdef", 17}, {"0123456789abcdef0123456789abcdefXYZ", 17}, {"", 49}};
    for (const KeyTextCase& c : cases) {
        SCOPED_TRACE(c.keyText);
        gSettings.cipherKeyText = c.keyText;
        char buffer[256] = "[Version] 1\n";
        ASSERT_EQ(encipherConfig(buffer, sizeof buffer), c.contentLength);
        ASSERT_EQ(decipherConfig(reinterpret_cast<unsigned char*>(buffer), c.contentLength), 12);
        EXPECT_EQ(std::string(buffer, 12), "[Version] 1\n");
    }
}

}  // namespace
