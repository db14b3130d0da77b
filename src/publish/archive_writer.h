// The release archive Player/Patch<N>.zip: every shipped file, deflated where that pays and stored
// where it does not, zip64 where an entry or the entry count needs it, and the delete list as
// "delete.txt" at the top.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Writes the archive to zipPath (the caller renames it into place). Files are read below sourceRoot;
// folders are directory entries ending in "/"; an empty deleteList writes no "delete.txt".
bool writeReleaseArchive(const std::string& zipPath, const std::string& sourceRoot,
                         const std::vector<std::string>& files, const std::vector<std::string>& folders,
                         const std::string& deleteList, std::string* error);

// What the launcher would find wrong when it unpacks the archive at zipPath: an entry count that hides
// entries, an entry whose data does not inflate to its recorded size and CRC. Empty when it reads whole.
std::vector<std::string> checkReleaseArchive(const std::string& zipPath);

struct ArchiveEntryInfo {
    std::string name;  // as stored; folders end in "/"
    uint64_t size;
    uint64_t packedSize;  // the bytes it takes in the archive: what a player downloads for it
};

// Inflates every entry in directory order and hands it to `visit` (withData false: sizes only, the
// bytes stay empty). false when the archive or an entry cannot be read whole.
bool readArchiveEntries(const std::string& zipPath, bool withData,
                        const std::function<void(const ArchiveEntryInfo&, const std::vector<uint8_t>&)>& visit);
// The bytes of the entry `name`; false when it is missing or does not inflate whole.
bool readArchiveEntry(const std::string& zipPath, const std::string& name, std::vector<uint8_t>* data);
