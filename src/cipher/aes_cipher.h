// Salted AES-256 over byte arrays: the salt and a pad count in clear, then the plain text in
// independently enciphered 16-byte blocks. Round keys are re-derived per block; nothing is cached.
#pragma once
#include <cstdint>
#include <vector>

using ByteArray = std::vector<uint8_t>;

enum { kAesBlockSize = 16, kAesKeySize = 32, kAesRounds = 14, kAesCollectSize = 48 };

class AesCipher {
public:
    // Only the first 32 key bytes count; the salt fills the rest of the 32-byte cipher key.
    explicit AesCipher(const ByteArray& keyBytes);

    // Streaming: one begin, any number of more calls, one finish. Each appends to out and
    // answers out's new size.
    uint32_t beginEncrypt(uint32_t plainLength, ByteArray& out);
    uint32_t encryptMore(const ByteArray& bytes, ByteArray& out);
    uint32_t finishEncrypt(ByteArray& out);
    uint32_t beginDecrypt(uint32_t messageLength);  // answers remaining
    uint32_t decryptMore(const ByteArray& bytes, ByteArray& out);
    uint32_t finishDecrypt(ByteArray& out);

    // One 16-byte block in place, under key followed by salt.
    void encryptBlock(uint8_t* block);
    void decryptBlock(uint8_t* block);

private:
    void loadWorkKey();
    void expandKeyForward(uint8_t& rcon);
    void expandKeyBackward(uint8_t& rcon);
    void addRoundKey(uint8_t* block, int round) const;
    void takeHeader();
    void deliverBlock(ByteArray& out);

    ByteArray key;
    ByteArray salt;
    ByteArray workKey;
    uint8_t buffer[kAesCollectSize];
    uint8_t fill;
    uint32_t remaining;
    bool headerDone;
};

// One-shot forms over a fresh cipher; both append to out and answer out's new size.
uint32_t encryptBytes(const ByteArray& key, const ByteArray& plain, ByteArray& out);
uint32_t decryptBytes(const ByteArray& key, const ByteArray& message, ByteArray& out);
