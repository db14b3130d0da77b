// The patch index "PatchIndex.txt": the publisher's signed list of the SHA-256 hash and size of every
// file below the patch base URL. Read by the launcher and Updater, written by vyr-publish, so both
// sides go through this one module. Free of Windows headers.
//
//   VYR-PATCH-INDEX 1
//   manifest <64 hex>
//   file <64 hex> <size> <path below the base URL>
//   signature <128 hex: r||s of ECDSA P-256 with SHA-256 over every byte before this line>
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum { kSha256Size = 32, kP256SignatureSize = 64, kP256PublicKeySize = 64, kIndexPathSize = 256 };

// The launcher and Updater refuse a signed list (index, delta list, build list) longer than this, so a
// server cannot make them hold any amount of text; vyr-publish keeps the lists it writes within it.
const size_t kMaxSignedListBytes = 16u << 20;

struct PatchIndexFile {
    uint8_t sha256[kSha256Size];
    uint64_t size;
    char path[kIndexPathSize];  // "/" separators, case-sensitive as served, e.g. "Player/Patch10002.zip"
};

struct PatchIndex {
    uint8_t manifestSha256[kSha256Size];
    std::vector<PatchIndexFile> files;
    uint8_t signature[kP256SignatureSize];
    size_t signedLength;  // bytes of the text before the "signature" line: what the signature covers
    bool isSigned;        // false only for an index read with IndexSignature::Optional that has none
};

// A publisher without a key writes the index without its last line; only the publishing side reads such.
enum class IndexSignature { Required, Optional };

// Reads a whole index. false when anything departs from the format: the header, a line of another
// form, upper-case or short hex, a size that is not a plain decimal below 2^63, a path the launcher
// would refuse or that holds "\", a path given twice, CR line ends, a missing manifest or signature
// line, or anything after the signature line. With IndexSignature::Optional a missing signature line
// is accepted: the signed span is then the whole text and isSigned is false.
bool parsePatchIndex(const char* text, size_t length, PatchIndex* index,
                     IndexSignature signature = IndexSignature::Required);

// The line of `path` (compared case-sensitively), or nullptr.
const PatchIndexFile* findPatchIndexFile(const PatchIndex& index, const char* path);

// The index path of a manifest file name: "Player/" and the name with every "\" turned into "/".
// false when the result does not fit or the name is refused by the path rule.
bool playerIndexPath(const char* manifestName, char* path, size_t pathSize);

// Everything the signature covers: header, manifest line and one file line per entry, sorted by path.
std::string formatPatchIndexBody(const uint8_t manifestSha256[kSha256Size], std::vector<PatchIndexFile> files);
// The closing line, "signature <128 hex>\n".
std::string formatSignatureLine(const uint8_t signature[kP256SignatureSize]);

// The field rules the signed lists share: a size is a plain decimal (no sign, no leading zero) below
// 2^63; a path uses "/", does not end in one, holds no "\" and passes the launcher's path rule.
bool parseIndexSize(const char* text, size_t length, uint64_t* size);
bool isIndexPath(const char* path, size_t length);

// Lower-case hex only: exactly 2 * count characters.
bool parseHex(const char* text, size_t length, uint8_t* bytes, size_t count);
void formatHex(const uint8_t* bytes, size_t count, char* text);  // writes 2 * count characters and a NUL
