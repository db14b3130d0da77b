// The launcher's record of its last verification, "verify.dat" beside config: the highest whole-build
// list serial it accepted, and per verified file what the disk said when its bytes last hashed right.
// A file whose size and last-write time still match, and whose listed hash is still the recorded one,
// need not be hashed again at start-up. Free of Windows headers; the launcher writes it like config.
//
//   VYR-VERIFY 1
//   serial <highest accepted serial, 0 for none>
//   file <size> <last-write time: the FILETIME as one 64-bit decimal> <64 hex sha256> <path>
//   check <8 hex: CRC-32 (as zip's) of every byte before this line>
//
// The record detects its own damage: whatever fails to read exactly as written, check line included,
// reads as nothing verified and serial 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/patch_index.h"

struct VerifiedFile {
    char path[kIndexPathSize];  // as the whole-build list names it
    uint64_t size;
    uint64_t lastWriteTime;  // FILETIME, high part first: (dwHighDateTime << 32) | dwLowDateTime
    uint8_t sha256[kSha256Size];
};

struct VerifyRecord {
    uint64_t acceptedSerial;           // 0 when no list has been accepted, or the record was damaged
    std::vector<VerifiedFile> files;  // ascending by path, bytewise, each path once
};

// Reads a record; false for a damaged one (any departure from the format, a check that does not
// match, paths out of order), which leaves `record` empty with serial 0.
bool parseVerifyRecord(const char* text, size_t length, VerifyRecord* record);

// The whole file, check line included. Files are sorted by path; of entries with the same path the
// last given is kept.
std::string formatVerifyRecord(const VerifyRecord& record);

// The closing line, "check <8 hex>\n", for the `length` bytes of `body` before it.
std::string formatVerifyCheckLine(const char* body, size_t length);

// The entry of `path`, compared case-sensitively, or nullptr.
const VerifiedFile* findVerifiedFile(const VerifyRecord& record, const char* path);
