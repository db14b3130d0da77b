// The whole-build list "PatchBuild.txt": beside the patch index, signed with the same key, it names
// every game file of one release with its size and SHA-256 and where to fetch it whole. The launcher
// checks and repairs the game folder against it; vyr-publish writes it. Free of Windows headers.
//
//   VYR-PATCH-BUILD 1
//   release <serial> <version>
//   file <64 hex sha256> <size> <64 hex payload sha256> <payload size> <payload path> <path>
//   signature <128 hex: r||s of ECDSA P-256 with SHA-256 over every byte before this line>
//
// The serial only grows from release to release (1 to 2^63-1), so a launcher can refuse a list older
// than one it has accepted; the version is the game version the list describes. A payload is the
// file as one zstd frame, stored once by content under "Player/Files/<sha256 of the file>.zst"; the
// reader takes any payload path without spaces. The file path is the rest of the line (spaces and
// UTF-8 allowed) and is relative to the game folder. Sizes, hashes and paths follow the patch
// index's field rules.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/patch_index.h"

// The list's name below the patch base URL.
extern const char kBuildListName[];  // "PatchBuild.txt"

struct BuildFile {
    uint8_t sha256[kSha256Size];
    uint64_t size;
    uint8_t payloadSha256[kSha256Size];
    uint64_t payloadSize;
    char payloadPath[kIndexPathSize];  // below the base URL
    char path[kIndexPathSize];         // below the game folder, "/" separators
};

struct BuildList {
    uint64_t serial;
    uint32_t version;
    std::vector<BuildFile> files;  // ascending by path, bytewise
    uint8_t signature[kP256SignatureSize];
    size_t signedLength;  // bytes before the "signature" line
    bool isSigned;
};

// Reads a whole list, strictly, so nothing is half-used: false when anything departs from the format
// above, when the file lines are not in strictly ascending bytewise order of their paths (the writer's
// order, so a path given twice is refused too), when two paths would be one file on Windows (ASCII
// case folded) or one path is another's folder, or when a path is one the launcher or Updater keeps
// for itself. Signature rules as for the patch index.
bool parseBuildList(const char* text, size_t length, BuildList* list,
                    IndexSignature signature = IndexSignature::Required);

// The line of `path`, compared case-sensitively, or nullptr.
const BuildFile* findBuildFile(const BuildList& list, const char* path);

// Everything the signature covers: header, release line, file lines sorted by path.
std::string formatBuildListBody(const BuildList& list);

// Where the whole payload of a file with this content is stored: "Player/Files/<hex>.zst".
void buildPayloadPath(const uint8_t sha256[kSha256Size], char (&path)[kIndexPathSize]);
