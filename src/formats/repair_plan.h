// Deciding what the check of the game folder must do with each file the whole-build list names, from
// the list, the verification record and what the disk says, before any file is read. Files the list
// does not name are never part of it. Free of Windows headers: the launcher gathers the disk facts and
// does the hashing and fetching.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/build_list.h"
#include "formats/verify_record.h"

// Whether a signed list may be used at all.
enum class ListVerdict {
    Accepted,
    OlderSerial,   // below the highest serial accepted before: a stale mirror or a replayed old release
    OtherVersion,  // describes another game version than config records: repairing to it would mix builds
};

// An equal serial is fine (the same release seen again). A serial of 0 (nothing accepted, or a damaged
// record) admits any serial; the version rule still holds.
ListVerdict judgeBuildList(const BuildList& list, uint64_t acceptedSerial, uint32_t installedVersion);

// What the disk says of one listed file, gathered before anything is read.
struct DiskFile {
    bool exists;  // a file: a folder in its place counts as missing
    uint64_t size;
    uint64_t lastWriteTime;  // FILETIME as in VerifiedFile
};

enum class FileCheck {
    Fine,   // size and last-write time as recorded when its bytes last hashed to the listed SHA-256
    Hash,   // bytes must be hashed: changed time, never verified, another listed hash, or a full check
    Fetch,  // missing or of the wrong size: no hashing can make it right
};

enum class CheckDepth { Quick, Full };

FileCheck planFileCheck(const BuildFile& listed, const VerifiedFile* verified, const DiskFile& disk,
                        CheckDepth depth);

struct CheckPlan {
    std::vector<FileCheck> checks;  // one per listed file, in the list's order
    size_t hashCount, fetchCount;
    uint64_t hashBytes;   // file bytes to read for hashing
    uint64_t fetchBytes;  // payload bytes to download, before any hashed file turns out wrong
};

// `disk` holds one entry per listed file, in the list's order; false when it does not.
bool planBuildCheck(const BuildList& list, const VerifyRecord& record, const std::vector<DiskFile>& disk,
                    CheckDepth depth, CheckPlan* plan);

// The record entry of a listed file whose bytes hashed right (or were just put in place), with what
// the disk says of it now.
VerifiedFile verifiedFileOf(const BuildFile& listed, const DiskFile& disk);

// Files the run has just put in place after hashing them to a signed target (a delta step's rename):
// each goes into `record` with the disk facts taken after its rename when the list names it with that
// same content, so the check that follows need not read it again. Files the list does not name, or
// names with other content, are left to the check; of several entries for one path the last counts.
void vouchForPlacedFiles(const BuildList& list, const std::vector<VerifiedFile>& placed, VerifyRecord* record);
