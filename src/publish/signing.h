// The publisher's key and the index signature: ECDSA P-256 over SHA-256, through OpenSSL's libcrypto.
// Signatures are r||s (32 bytes each, big-endian) and public keys X||Y, the forms the launcher verifies.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/patch_index.h"

void sha256(const void* data, size_t size, uint8_t digest[kSha256Size]);
// The SHA-256 of a whole file, read in pieces; false when it cannot be read.
bool sha256File(const std::string& path, uint8_t digest[kSha256Size], uint64_t* size);

// Writes a new P-256 key as PEM (PKCS#8, readable by `openssl dgst -sign`) to a file that must not exist.
bool generateKey(const std::string& pemPath, std::string* error);
// The 128-hex public key X||Y of the private key in pemPath.
bool publicKeyHex(const std::string& pemPath, std::string* hex, std::string* error);

bool signData(const std::string& pemPath, const std::string& data, uint8_t signature[kP256SignatureSize],
              std::string* error);
bool verifySignature(const uint8_t publicKey[kP256PublicKeySize], const std::string& data,
                     const uint8_t signature[kP256SignatureSize]);
