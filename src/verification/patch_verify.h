// The signed patch index of a run: fetched beside the manifest, checked against the key the build
// carries, and kept for the run so every downloaded file can be held to its line.
#pragma once
#include <cstdint>
#include <vector>

#include "formats/patch_index.h"

// True when the build carries a public key: then an index is required and every file is verified.
bool patchIndexRequired();

enum class IndexLoad { Verified, NotRequired, Unfetchable, Refused, ManifestMismatch };

// Fetches <baseUrl>/PatchIndex.txt through `localIndexFile` (removed afterwards) and checks its
// signature; with `localManifest` also that the manifest file, byte for byte as served, has the hash
// the index names. A verified index is kept for the run. Refused: a bad signature or format, or a text
// too large for an index. ManifestMismatch: a well signed index that names another manifest (the two
// may come from two moments of a release, as a cache can serve them).
IndexLoad loadPatchIndex(const char* baseUrl, const char* localIndexFile, const char* localManifest);

inline bool indexLoadSucceeded(IndexLoad load) { return load == IndexLoad::Verified || load == IndexLoad::NotRequired; }

// Fetches <baseUrl>/<name> (a signed list beside the manifest, bypassing caches) through `localFile`,
// which is removed afterwards; false when it cannot be fetched whole or is too large for a list.
bool fetchSignedListText(const char* baseUrl, const char* name, const char* localFile, std::vector<char>* text);

// The line a downloaded file must match: nullptr when no index is required, or when the path has no
// line (then *missing is set).
const PatchIndexFile* expectedPatchFile(const char* indexPath, bool* missing);

// Whether a received file (its size and the digest of its bytes) is the one the line names.
bool matchesIndexLine(const PatchIndexFile& line, uint64_t size, const uint8_t digest[kSha256Size]);
