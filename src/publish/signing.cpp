// OpenSSL 3 EVP calls for keys, signing and verifying. The DER signature OpenSSL makes is re-encoded
// as r||s, and back, since the index and the launcher's CNG check use the fixed-size form.
#include "publish/signing.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

enum { kCoordinateSize = 32, kUncompressedPointSize = 65, kUncompressedPointTag = 4, kReadPieceSize = 1 << 16 };
const char kCurveName[] = "prime256v1";
const mode_t kKeyFileMode = S_IRUSR | S_IWUSR;
const mode_t kGroupOrOtherAccess = S_IRWXG | S_IRWXO;
const mode_t kPermissionBits = 07777;
const char kKeyTemporarySuffix[] = ".new";

// Writes the key into a new temporary file of mode 0600 and flushes it to the disk. A temporary file
// left by a killed run may still be a second name of the key itself (a kill between the link and the
// unlink below), so it is unlinked and made anew, never truncated: truncating would rewrite the key.
bool writeKeyFile(const std::string& path, EVP_PKEY* key) {
    unlink(path.c_str());
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, kKeyFileMode);
    if (fd < 0) return false;
    FILE* file = fchmod(fd, kKeyFileMode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        close(fd);
        return false;
    }
    bool written = PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    written = fflush(file) == 0 && fsync(fd) == 0 && written;
    return fclose(file) == 0 && written;
}

// Makes the key's new name durable: a power cut after keygen must not lose a key already in use.
void syncFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Like ssh, a key that others on the machine may read is not trusted to be secret any more.
bool keyIsPrivate(FILE* file, const std::string& pemPath, std::string* error) {
    struct stat status;
    if (fstat(fileno(file), &status) != 0) {
        *error = "cannot read the mode of " + pemPath;
        return false;
    }
    if ((status.st_mode & kGroupOrOtherAccess) != 0) {
        char mode[16];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & kPermissionBits));
        *error = pemPath + ": mode " + mode + " lets others read the signing key; chmod 600 it";
        return false;
    }
    return true;
}

EVP_PKEY* readPrivateKey(const std::string& pemPath, std::string* error) {
    FILE* file = fopen(pemPath.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open the key " + pemPath;
        return nullptr;
    }
    if (!keyIsPrivate(file, pemPath, error)) {
        fclose(file);
        return nullptr;
    }
    EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    fclose(file);
    char group[64] = {};
    size_t groupLength = 0;
    if (key == nullptr ||
        !EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &groupLength) ||
        std::string(group) != kCurveName) {
        EVP_PKEY_free(key);
        *error = pemPath + " does not hold a P-256 private key";
        return nullptr;
    }
    return key;
}

}  // namespace

void sha256(const void* data, size_t size, uint8_t digest[kSha256Size]) {
    SHA256(static_cast<const unsigned char*>(data), size, digest);
}

bool sha256File(const std::string& path, uint8_t digest[kSha256Size], uint64_t* size) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    std::vector<unsigned char> piece(kReadPieceSize);
    *size = 0;
    size_t count = 0;
    while ((count = fread(piece.data(), 1, piece.size(), file)) > 0) {
        EVP_DigestUpdate(context, piece.data(), count);
        *size += count;
    }
    bool ok = !ferror(file) && EVP_DigestFinal_ex(context, digest, nullptr) == 1;
    EVP_MD_CTX_free(context);
    fclose(file);
    return ok;
}

bool generateKey(const std::string& pemPath, std::string* error) {
    EVP_PKEY* key = EVP_EC_gen(kCurveName);
    if (key == nullptr) {
        *error = "cannot generate a P-256 key";
        return false;
    }
    // Whole or not at all: a run killed while writing leaves only the temporary file, never a cut key
    // that would block the next keygen.
    std::string temporary = pemPath + kKeyTemporarySuffix;
    bool written = writeKeyFile(temporary, key);
    EVP_PKEY_free(key);
    if (!written) {
        unlink(temporary.c_str());
        *error = "cannot write " + temporary;
        return false;
    }
    // A hard link never replaces an existing file: a lost signing key cannot be replaced without a new
    // launcher.
    if (link(temporary.c_str(), pemPath.c_str()) != 0) {
        unlink(temporary.c_str());
        *error = "cannot create " + pemPath + " (it must not exist yet)";
        return false;
    }
    unlink(temporary.c_str());
    syncFolderOf(pemPath);
    return true;
}

bool publicKeyHex(const std::string& pemPath, std::string* hex, std::string* error) {
    EVP_PKEY* key = readPrivateKey(pemPath, error);
    if (key == nullptr) return false;
    unsigned char point[kUncompressedPointSize];
    size_t length = 0;
    bool ok = EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) &&
              length == kUncompressedPointSize && point[0] == kUncompressedPointTag;
    EVP_PKEY_free(key);
    if (!ok) {
        *error = "cannot read the public key of " + pemPath;
        return false;
    }
    char text[2 * kP256PublicKeySize + 1];
    formatHex(point + 1, kP256PublicKeySize, text);
    *hex = text;
    return true;
}

bool signData(const std::string& pemPath, const std::string& data, uint8_t signature[kP256SignatureSize],
              std::string* error) {
    EVP_PKEY* key = readPrivateKey(pemPath, error);
    if (key == nullptr) return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char der[128];
    size_t derLength = sizeof der;
    bool signedOk = EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestSign(context, der, &derLength, reinterpret_cast<const unsigned char*>(data.data()),
                                   data.size()) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    const unsigned char* p = der;
    ECDSA_SIG* parsed = signedOk ? d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLength)) : nullptr;
    bool ok = parsed != nullptr &&
              BN_bn2binpad(ECDSA_SIG_get0_r(parsed), signature, kCoordinateSize) == kCoordinateSize &&
              BN_bn2binpad(ECDSA_SIG_get0_s(parsed), signature + kCoordinateSize, kCoordinateSize) == kCoordinateSize;
    ECDSA_SIG_free(parsed);
    if (!ok) *error = "signing with " + pemPath + " failed";
    return ok;
}

bool verifySignature(const uint8_t publicKey[kP256PublicKeySize], const std::string& data,
                     const uint8_t signature[kP256SignatureSize]) {
    unsigned char point[kUncompressedPointSize];
    point[0] = kUncompressedPointTag;
    std::copy(publicKey, publicKey + kP256PublicKeySize, point + 1);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, kCurveName, 0);
    OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
    EVP_PKEY_CTX* keyContext = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    bool haveKey = params != nullptr && keyContext != nullptr && EVP_PKEY_fromdata_init(keyContext) == 1 &&
                   EVP_PKEY_fromdata(keyContext, &key, EVP_PKEY_PUBLIC_KEY, params) == 1;
    EVP_PKEY_CTX_free(keyContext);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);

    ECDSA_SIG* parsed = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature, kCoordinateSize, nullptr);
    BIGNUM* s = BN_bin2bn(signature + kCoordinateSize, kCoordinateSize, nullptr);
    ECDSA_SIG_set0(parsed, r, s);
    unsigned char* der = nullptr;
    int derLength = i2d_ECDSA_SIG(parsed, &der);
    ECDSA_SIG_free(parsed);

    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = haveKey && derLength > 0 && EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestVerify(context, der, static_cast<size_t>(derLength),
                               reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
    EVP_MD_CTX_free(context);
    OPENSSL_free(der);
    EVP_PKEY_free(key);
    return ok;
}
