// Salted AES-256 (FIPS-197) with a rolling key schedule: each block walks the 32-byte working key
// forward (encipher) or backward (decipher) through the AES-256 key expansion as the rounds go.
#include "cipher/aes_cipher.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

const uint8_t kInvSbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

uint8_t xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00)); }

void subBytes(uint8_t* block) {
    for (int i = 0; i < kAesBlockSize; ++i) block[i] = kSbox[block[i]];
}

void invSubBytes(uint8_t* block) {
    for (int i = 0; i < kAesBlockSize; ++i) block[i] = kInvSbox[block[i]];
}

// Byte n of a block is row n % 4 of column n / 4; row r turns left by r columns.
void shiftRows(uint8_t* b) {
    uint8_t t = b[1];
    b[1] = b[5], b[5] = b[9], b[9] = b[13], b[13] = t;
    t = b[2], b[2] = b[10], b[10] = t;
    t = b[6], b[6] = b[14], b[14] = t;
    t = b[15];
    b[15] = b[11], b[11] = b[7], b[7] = b[3], b[3] = t;
}

void invShiftRows(uint8_t* b) {
    uint8_t t = b[13];
    b[13] = b[9], b[9] = b[5], b[5] = b[1], b[1] = t;
    t = b[2], b[2] = b[10], b[10] = t;
    t = b[6], b[6] = b[14], b[14] = t;
    t = b[3];
    b[3] = b[7], b[7] = b[11], b[11] = b[15], b[15] = t;
}

void mixColumns(uint8_t* block) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* col = block + 4 * c;
        uint8_t a = col[0], b = col[1], cc = col[2], d = col[3];
        uint8_t e = a ^ b ^ cc ^ d;
        col[0] = a ^ e ^ xtime(a ^ b);
        col[1] = b ^ e ^ xtime(b ^ cc);
        col[2] = cc ^ e ^ xtime(cc ^ d);
        col[3] = d ^ e ^ xtime(d ^ a);
    }
}

void invMixColumns(uint8_t* block) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* col = block + 4 * c;
        uint8_t a = col[0], b = col[1], cc = col[2], d = col[3];
        uint8_t e = a ^ b ^ cc ^ d;
        uint8_t z = xtime(e);
        uint8_t x = e ^ xtime(xtime(a ^ cc ^ z));
        uint8_t y = e ^ xtime(xtime(b ^ d ^ z));
        col[0] = a ^ x ^ xtime(a ^ b);
        col[1] = b ^ y ^ xtime(b ^ cc);
        col[2] = cc ^ x ^ xtime(cc ^ d);
        col[3] = d ^ y ^ xtime(d ^ a);
    }
}

}  // namespace

AesCipher::AesCipher(const ByteArray& keyBytes)
    : key(keyBytes.begin(), keyBytes.begin() + std::min<size_t>(keyBytes.size(), kAesKeySize)),
      salt(kAesKeySize - key.size(), 0),
      workKey(kAesKeySize, 0),
      buffer{},
      fill(0),
      remaining(0),
      headerDone(false) {}

void AesCipher::loadWorkKey() {
    std::copy(key.begin(), key.end(), workKey.begin());
    std::copy(salt.begin(), salt.end(), workKey.begin() + key.size());
}

void AesCipher::expandKeyForward(uint8_t& rcon) {
    uint8_t* k = workKey.data();
    k[0] ^= kSbox[k[29]] ^ rcon;
    k[1] ^= kSbox[k[30]];
    k[2] ^= kSbox[k[31]];
    k[3] ^= kSbox[k[28]];
    rcon = xtime(rcon);
    for (int j = 4; j < 16; ++j) k[j] ^= k[j - 4];
    for (int j = 0; j < 4; ++j) k[16 + j] ^= kSbox[k[12 + j]];
    for (int j = 20; j < 32; ++j) k[j] ^= k[j - 4];
}

void AesCipher::expandKeyBackward(uint8_t& rcon) {
    uint8_t* k = workKey.data();
    for (int group = 28; group >= 20; group -= 4)
        for (int j = group; j < group + 4; ++j) k[j] ^= k[j - 4];
    for (int j = 0; j < 4; ++j) k[16 + j] ^= kSbox[k[12 + j]];
    for (int group = 12; group >= 4; group -= 4)
        for (int j = group; j < group + 4; ++j) k[j] ^= k[j - 4];
    rcon = static_cast<uint8_t>((rcon >> 1) ^ ((rcon & 1) ? 0x8d : 0x00));
    k[0] ^= kSbox[k[29]] ^ rcon;
    k[1] ^= kSbox[k[30]];
    k[2] ^= kSbox[k[31]];
    k[3] ^= kSbox[k[28]];
}

// Even rounds use the first half of the working key, odd rounds the second.
void AesCipher::addRoundKey(uint8_t* block, int round) const {
    const uint8_t* roundKey = workKey.data() + (round % 2 ? kAesBlockSize : 0);
    for (int i = 0; i < kAesBlockSize; ++i) block[i] ^= roundKey[i];
}

void AesCipher::encryptBlock(uint8_t* block) {
    loadWorkKey();
    uint8_t rcon = 1;
    addRoundKey(block, 0);
    for (int round = 1; round < kAesRounds; ++round) {
        subBytes(block);
        shiftRows(block);
        mixColumns(block);
        if (round % 2 == 0) expandKeyForward(rcon);
        addRoundKey(block, round);
    }
    subBytes(block);
    shiftRows(block);
    expandKeyForward(rcon);
    addRoundKey(block, kAesRounds);
}

void AesCipher::decryptBlock(uint8_t* block) {
    loadWorkKey();
    uint8_t rcon = 1;
    for (int step = 0; step < kAesRounds / 2; ++step) expandKeyForward(rcon);
    addRoundKey(block, kAesRounds);
    invShiftRows(block);
    invSubBytes(block);
    rcon = 0x80;
    for (int round = kAesRounds - 1; round >= 1; --round) {
        if (round % 2 == 1) expandKeyBackward(rcon);
        addRoundKey(block, round);
        invMixColumns(block);
        invShiftRows(block);
        invSubBytes(block);
    }
    addRoundKey(block, 0);
}

uint32_t AesCipher::beginEncrypt(uint32_t plainLength, ByteArray& out) {
    // The generator is deliberately left unseeded: the reader takes the salt from the message.
    for (uint8_t& byte : salt) byte = static_cast<uint8_t>(rand() & 0xff);
    uint8_t padCount = static_cast<uint8_t>((kAesBlockSize - plainLength % kAesBlockSize) % kAesBlockSize);
    out.insert(out.end(), salt.begin(), salt.end());
    out.push_back(padCount);
    fill = 0;
    return static_cast<uint32_t>(out.size());
}

uint32_t AesCipher::encryptMore(const ByteArray& bytes, ByteArray& out) {
    for (uint8_t byte : bytes) {
        buffer[fill++] = byte;
        if (fill == kAesBlockSize) {
            encryptBlock(buffer);
            out.insert(out.end(), buffer, buffer + kAesBlockSize);
            fill = 0;
        }
    }
    return static_cast<uint32_t>(out.size());
}

uint32_t AesCipher::finishEncrypt(ByteArray& out) {
    if (fill > 0) {
        memset(buffer + fill, 0, kAesBlockSize - fill);
        encryptBlock(buffer);
        out.insert(out.end(), buffer, buffer + kAesBlockSize);
        fill = 0;
    }
    return static_cast<uint32_t>(out.size());
}

uint32_t AesCipher::beginDecrypt(uint32_t messageLength) {
    std::fill(salt.begin(), salt.end(), 0);
    remaining = messageLength - static_cast<uint32_t>(salt.size());
    fill = 0;
    headerDone = false;
    return remaining;
}

// The pad count is taken on trust: a damaged one makes remaining wrap, and every byte is delivered.
void AesCipher::takeHeader() {
    std::copy(buffer, buffer + salt.size(), salt.begin());
    remaining -= static_cast<uint32_t>(buffer[salt.size()]) + 1;
    fill = 0;
    headerDone = true;
}

void AesCipher::deliverBlock(ByteArray& out) {
    decryptBlock(buffer);
    for (int i = 0; i < kAesBlockSize; ++i) {
        if (remaining > 0) {
            out.push_back(buffer[i]);
            --remaining;
        }
    }
    fill = 0;
}

uint32_t AesCipher::decryptMore(const ByteArray& bytes, ByteArray& out) {
    for (uint8_t byte : bytes) {
        buffer[fill++] = byte;
        if (!headerDone && fill == salt.size() + 1)
            takeHeader();
        else if (headerDone && fill == kAesBlockSize)
            deliverBlock(out);
    }
    return static_cast<uint32_t>(out.size());
}

uint32_t AesCipher::finishDecrypt(ByteArray& out) { return static_cast<uint32_t>(out.size()); }

uint32_t encryptBytes(const ByteArray& key, const ByteArray& plain, ByteArray& out) {
    AesCipher cipher(key);
    cipher.beginEncrypt(static_cast<uint32_t>(plain.size()), out);
    cipher.encryptMore(plain, out);
    return cipher.finishEncrypt(out);
}

uint32_t decryptBytes(const ByteArray& key, const ByteArray& message, ByteArray& out) {
    AesCipher cipher(key);
    cipher.beginDecrypt(static_cast<uint32_t>(message.size()));
    cipher.decryptMore(message, out);
    return cipher.finishDecrypt(out);
}
