// The delta list "PatchDeltas.txt": beside the patch index, signed with the same key, read by launchers
// that know deltas and by Updater, written by vyr-publish. Launchers that know nothing of deltas never
// fetch it, and the patch index keeps its lines: deployed readers refuse any line they do not know.
// Free of Windows headers.
//
//   VYR-PATCH-DELTAS 1
//   step <version> <64 hex: SHA-256 of the step's archive> <archive name as the manifest names it>
//   delta <base hex> <target hex> <target size> <payload hex> <payload size> <payload path> <target path>
//   whole <target hex> <target size> <payload hex> <payload size> <payload path> <target path>
//   launcher <base hex> <target hex> <target size> <payload hex> <payload size> <payload path>
//   signature <128 hex: r||s of ECDSA P-256 with SHA-256 over every byte before this line>
//
// A step block lists every file its archive puts in place, the archive's "delete.txt" included (as a
// target named "delete.txt"), so a launcher can rebuild exactly what the archive would leave. The
// archive's hash ties the block to the step as the signed index serves it: a block whose archive hash
// differs from the index line of Player/<archive name> is of another release and is not used.
// A payload is one zstd frame: for "delta", decoded with the base file's bytes as its reference prefix
// (zstd's patch-from); for "whole", decoded on its own. "launcher" lines carry deltas of the launcher
// itself, from an earlier launcher (base) to the one served under Launcher/.
// Paths use "/" and are compared case-sensitively as served; a payload path holds no space (the
// target path is the rest of the line and may). Sizes and hashes follow the patch index's rules.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/patch_index.h"

// The list's name below the patch base URL.
extern const char kDeltaListName[];  // "PatchDeltas.txt"
// The step block's target that stands for the archive's delete list.
extern const char kDeltaListDeleteTarget[];  // "delete.txt"

struct DeltaEntry {
    bool hasBase;  // "delta" and "launcher" lines; false for "whole"
    uint8_t baseSha256[kSha256Size];
    uint8_t targetSha256[kSha256Size];
    uint64_t targetSize;
    uint8_t payloadSha256[kSha256Size];
    uint64_t payloadSize;
    char payloadPath[kIndexPathSize];  // below the base URL, e.g. "Player/Deltas/10005/<hex>.zst"
    char targetPath[kIndexPathSize];   // below the game folder; "" on a launcher line
};

struct DeltaStep {
    uint32_t version;
    uint8_t archiveSha256[kSha256Size];
    char archiveName[kIndexPathSize];  // as the manifest's step names it, e.g. "Patch10005.zip"
    std::vector<DeltaEntry> entries;
};

struct DeltaList {
    std::vector<DeltaStep> steps;          // ascending versions, each at most once
    std::vector<DeltaEntry> launcherDeltas;
    uint8_t signature[kP256SignatureSize];
    size_t signedLength;  // bytes before the "signature" line
    bool isSigned;
};

// Reads a whole list, strictly, so nothing is half-used: false when anything departs from the format
// above, when a step's version is not above the one before, when a step names a target twice, when a
// "delta" or "whole" line comes before the first step line, or when a step line follows a launcher
// line (launcher lines close the list). Signature rules as for the patch index.
bool parseDeltaList(const char* text, size_t length, DeltaList* list,
                    IndexSignature signature = IndexSignature::Required);

// The block of `version`, or nullptr.
const DeltaStep* findDeltaStep(const DeltaList& list, uint32_t version);

// Everything the signature covers: header, steps by ascending version (entries sorted by target path),
// then the launcher lines. The text parseDeltaList reads back to the same list.
std::string formatDeltaListBody(const DeltaList& list);
