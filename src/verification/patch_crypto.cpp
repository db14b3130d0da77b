// SHA-256 and ECDSA P-256 verification over Windows CNG, for the patch index and the files it lists.
// CNG rather than a bundled library: the system's implementation, no second copy of the maths to trust.
#include "verification/patch_crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

namespace {

const size_t kCoordinateSize = 32;
const DWORD kFileChunkSize = 64 * 1024;

bool isSuccess(NTSTATUS status) {
    return NT_SUCCESS(status);
}

// A hash object is used by one thread at a time; the provider it comes from is the thread's own, so
// no lock is taken on the way to a hash.
thread_local BCRYPT_ALG_HANDLE threadSha256Provider = nullptr;

BCRYPT_ALG_HANDLE sha256Provider() {
    if (threadSha256Provider == nullptr &&
        !isSuccess(BCryptOpenAlgorithmProvider(&threadSha256Provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        threadSha256Provider = nullptr;
    return threadSha256Provider;
}

// Each BCryptHashData call takes a ULONG count; larger buffers go in slices.
bool hashInSlices(BCRYPT_HASH_HANDLE hash, const void* data, size_t size) {
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    const size_t kSlice = 1u << 30;
    while (size > 0) {
        ULONG count = static_cast<ULONG>(size < kSlice ? size : kSlice);
        if (!isSuccess(BCryptHashData(hash, const_cast<UCHAR*>(bytes), count, 0))) return false;
        bytes += count;
        size -= count;
    }
    return true;
}

// BCRYPT_ECCKEY_BLOB header, then X and Y: the layout BCRYPT_ECCPUBLIC_BLOB import expects.
std::vector<UCHAR> eccPublicBlob(const uint8_t publicKey[kP256PublicKeySize]) {
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + kP256PublicKeySize);
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = kCoordinateSize;
    memcpy(blob.data(), &header, sizeof header);
    memcpy(blob.data() + sizeof header, publicKey, kP256PublicKeySize);
    return blob;
}

}  // namespace

bool beginSha256(Sha256Stream* stream) {
    stream->algorithm = nullptr;
    stream->hash = nullptr;
    BCRYPT_ALG_HANDLE algorithm = sha256Provider();
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (algorithm == nullptr || !isSuccess(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return false;
    stream->algorithm = algorithm;
    stream->hash = hash;
    return true;
}

bool addSha256(Sha256Stream* stream, const void* data, size_t size) {
    return stream->hash && hashInSlices(static_cast<BCRYPT_HASH_HANDLE>(stream->hash), data, size);
}

void abandonSha256(Sha256Stream* stream) {
    if (stream->hash) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(stream->hash));
    stream->hash = nullptr;
    stream->algorithm = nullptr;
}

void releaseThreadSha256Provider() {
    if (threadSha256Provider != nullptr) BCryptCloseAlgorithmProvider(threadSha256Provider, 0);
    threadSha256Provider = nullptr;
}

bool finishSha256(Sha256Stream* stream, uint8_t digest[kSha256Size]) {
    bool done = stream->hash &&
                isSuccess(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(stream->hash), digest, kSha256Size, 0));
    abandonSha256(stream);
    return done;
}

bool sha256OfBytes(const void* data, size_t size, uint8_t digest[kSha256Size]) {
    Sha256Stream stream;
    if (!beginSha256(&stream)) return false;
    if (!addSha256(&stream, data, size)) {
        abandonSha256(&stream);
        return false;
    }
    return finishSha256(&stream, digest);
}

bool sha256OfFile(const char* path, uint64_t* size, uint8_t digest[kSha256Size]) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    Sha256Stream stream;
    bool ok = beginSha256(&stream);
    uint64_t total = 0;
    std::vector<char> chunk(kFileChunkSize);
    while (ok) {
        DWORD count = 0;
        if (!ReadFile(file, chunk.data(), kFileChunkSize, &count, nullptr)) ok = false;
        if (!ok || count == 0) break;
        total += count;
        ok = addSha256(&stream, chunk.data(), count);
    }
    CloseHandle(file);
    if (!ok) {
        abandonSha256(&stream);
        return false;
    }
    *size = total;
    return finishSha256(&stream, digest);
}

bool verifyP256Signature(const uint8_t publicKey[kP256PublicKeySize], const void* data, size_t size,
                         const uint8_t signature[kP256SignatureSize]) {
    uint8_t digest[kSha256Size];
    if (!sha256OfBytes(data, size, digest)) return false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!isSuccess(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    std::vector<UCHAR> blob = eccPublicBlob(publicKey);
    BCRYPT_KEY_HANDLE key = nullptr;
    bool valid = false;
    if (isSuccess(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                                      static_cast<ULONG>(blob.size()), 0))) {
        valid = isSuccess(BCryptVerifySignature(key, nullptr, digest, kSha256Size, const_cast<uint8_t*>(signature),
                                                kP256SignatureSize, 0));
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return valid;
}

bool verifyPatchIndexText(const char* text, size_t length, const uint8_t publicKey[kP256PublicKeySize],
                          PatchIndex* index) {
    if (!parsePatchIndex(text, length, index)) return false;
    return verifyP256Signature(publicKey, text, index->signedLength, index->signature);
}
