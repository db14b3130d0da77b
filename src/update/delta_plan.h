// Whether a pending step can be rebuilt from the signed delta list instead of its archive, and how each
// file of it is brought to its target, decided from what is installed. Free of Windows headers.
#pragma once
#include <cstdint>
#include <vector>

#include "app/version_step.h"
#include "formats/delta_list.h"

enum class EntryWork {
    InPlace,  // the installed file is the target already (a run killed after its rename)
    Delta,    // the installed file is the delta's base
    Whole,    // the file travels whole
};

struct PlannedEntry {
    const DeltaEntry* entry;  // points into the list the plan was made from
    EntryWork work;
};

// Each payload is a request of its own, and its file is flushed and renamed on its own: a step of many
// small files costs less as one archive. Counted as this many bytes per payload against the archive.
enum { kPayloadRequestCost = 64 << 10 };

struct DeltaStepPlan {
    std::vector<PlannedEntry> entries;  // the block's order
    uint64_t payloadBytes;              // what the deltas and whole files download together
};

// SHA-256 and size of the installed file at a target path ("/"-separated, below the game folder);
// false when there is none or it cannot be read.
typedef bool (*InstalledFileHash)(void* context, const char* targetPath, uint8_t digest[kSha256Size],
                                  uint64_t* size);

// True when the step is taken from payloads: its manifest files are exactly one archive, the list has
// a block of that version and archive name whose archive hash is that of `archiveLine` (the signed
// index line of Player/<archive>; nullptr when there is none), every entry's target is a name the
// launcher may write and is either in place, the base of its delta, or travels whole, and the
// payloads together, each with kPayloadRequestCost, are smaller than the archive. Otherwise the step
// takes its archive, as a launcher without deltas does. Each installed file is hashed at most once.
bool planDeltaStep(const DeltaList& list, const VersionStep& step, const PatchIndexFile* archiveLine,
                   InstalledFileHash hashOf, void* context, DeltaStepPlan* plan);
