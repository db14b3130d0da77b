// SHA-256 and ECDSA P-256 checks over Windows CNG (bcrypt), for the patch index and the files it
// lists. Shared by the launcher and Updater.
#pragma once
#include <cstddef>
#include <cstdint>

#include "formats/patch_index.h"

// A hash fed chunk by chunk while a file streams in, so the bytes are never read twice.
struct Sha256Stream {
    void* algorithm;  // BCRYPT_ALG_HANDLE: the beginning thread's provider, which the stream never closes
    void* hash;       // BCRYPT_HASH_HANDLE
};

bool beginSha256(Sha256Stream* stream);
bool addSha256(Sha256Stream* stream, const void* data, size_t size);
// Writes the digest and releases the stream; false (stream released) when CNG fails.
bool finishSha256(Sha256Stream* stream, uint8_t digest[kSha256Size]);
void abandonSha256(Sha256Stream* stream);
// Opening the SHA-256 provider costs more than hashing a small file, so each thread opens it once and
// keeps it. A thread that ends before the process does and began streams calls this last, when none
// of its streams is still open.
void releaseThreadSha256Provider();

bool sha256OfBytes(const void* data, size_t size, uint8_t digest[kSha256Size]);
// Hashes the file's bytes as they are on disk; *size gets its length. false when it cannot be read.
bool sha256OfFile(const char* path, uint64_t* size, uint8_t digest[kSha256Size]);

// ECDSA P-256 with SHA-256 over data; key X||Y, signature r||s, each coordinate 32 bytes big-endian.
bool verifyP256Signature(const uint8_t publicKey[kP256PublicKeySize], const void* data, size_t size,
                         const uint8_t signature[kP256SignatureSize]);

// The key the build carries (VYR_PATCH_PUBLIC_KEY); false when the build carries none, and then no
// index is fetched or required.
bool builtInPatchPublicKey(uint8_t publicKey[kP256PublicKeySize]);

// Parses an index text and checks its signature with the key. false when either fails.
bool verifyPatchIndexText(const char* text, size_t length, const uint8_t publicKey[kP256PublicKeySize],
                          PatchIndex* index);
