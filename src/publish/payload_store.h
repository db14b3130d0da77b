// Where payloads live on the served folder: written under a temporary name and renamed, flushed all at
// once before the list that names them, and whole files stored once by content below Player/Files/,
// whichever list names them.
#pragma once
#include <cstdint>
#include <string>

#include "deltas/delta_make.h"
#include "formats/patch_index.h"

struct StoredPayload {
    uint8_t sha256[kSha256Size];
    uint64_t size;
    char path[kIndexPathSize];  // below the served folder
    bool made;                  // false when the stored file was kept
};

// Where payloads live below the served folder (no trailing "/").
const char kStoreFolder[] = "Player/Files";
const char kPlayerDeltaFolder[] = "Player/Deltas";
const char kLauncherDeltaFolder[] = "Launcher/Deltas";

bool readFileBytes(const std::string& path, DeltaBytes* bytes);

// Places `payload` at www/path unless the very same bytes are there already.
bool placePayload(const std::string& www, const std::string& path, const DeltaBytes& payload, std::string* error);

// Everything written below www so far reaches the disk before the list that vouches for it.
bool flushServedFolder(const std::string& www, std::string* error);

// True when the store holds the payload `known` describes (path, size and SHA-256 as an earlier list
// names them): a release then keeps it without reading the file or decoding the payload.
bool storedPayloadMatches(const std::string& www, const StoredPayload& known);

// The whole payload of `file` in the store: a stored one that decodes to exactly these bytes is kept,
// otherwise one is made, checked by decoding and placed. `fileSha` is the file's SHA-256.
bool storeWholePayload(const std::string& www, const DeltaBytes& file, const uint8_t fileSha[kSha256Size],
                       StoredPayload* stored, std::string* error);
