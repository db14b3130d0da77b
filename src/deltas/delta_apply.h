// Rebuilding a file from a delta list payload (a zstd frame, see formats/delta_list.h) beside its
// target: the launcher's worker and Updater both go through here. Never touches the target itself:
// the result is a flushed part file whose size and SHA-256 were checked, for the caller to rename.
#pragma once
#include <cstdint>

#include "formats/patch_index.h"

enum class DeltaApply {
    Done,
    BaseUnreadable,     // the base file cannot be opened or read (or changed size while read)
    PayloadUnreadable,  // the payload file cannot be opened or read
    Corrupt,            // the payload is not a frame that decodes to exactly the target size
    Mismatch,           // it decoded, but the output's SHA-256 is not the target's
    WriteFailed,        // the part file cannot be created, written or flushed
    NoSpace,            // the volume cannot hold the target beside the kept old file
    TooLarge,           // base and target do not fit the process's address space together
};

// Paths are UTF-8 with "\" separators, relative to the current directory or absolute.
struct DeltaApplyRequest {
    const char* basePath;     // the installed file the delta was made from; nullptr for a whole payload
    const char* payloadPath;  // the downloaded (and already hash-checked) payload
    const char* partPath;     // created or overwritten; holds the target when Done
    uint64_t targetSize;
    const uint8_t* targetSha256;  // kSha256Size bytes
    // Output bytes so far; may be null.
    void (*progress)(void* context, uint64_t written, uint64_t total);
    void* context;
};

DeltaApply applyDeltaPayload(const DeltaApplyRequest& request);

// SHA-256 and size of an installed file (UTF-8 path); false when it cannot be read.
bool hashInstalledFile(const char* path, uint8_t digest[kSha256Size], uint64_t* size);
