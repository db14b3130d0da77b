// The whole-build list's side of publishing: every file of the released build with its whole payload
// in the store, the signed list "PatchBuild.txt" (written last, after everything it names), its checks
// in `verify`, and `prune`, which removes the payloads no published list names any more.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "formats/build_list.h"
#include "formats/manifest_text.h"
#include "publish/release_plan.h"

// The list as served; an empty one (serial 0) when there is none yet. false when one is there but
// unreadable: its serial is lost, and a new list of a lower serial would be refused by every launcher.
bool loadServedBuildList(const std::string& www, BuildList* list, std::string* error);

struct BuildStoreCounts {
    size_t made;  // payloads compressed by this run
    size_t kept;  // contents already in the store
    uint64_t madeBytes;
};

// Fills *list with release `serial` of game version `version`: every file of `tree` with its payload,
// made (on two threads) only for content the store does not hold yet. `previous` is the list served
// now, whose payload lines are trusted for files still stored as they name. A file the list cannot
// carry (a name too long, a size above what the launcher decodes) is left out, and *notes says which.
bool makeBuildList(const std::string& www, const BuildTree& tree, const BuildList& previous, uint64_t serial,
                   uint32_t version, BuildList* list, std::vector<std::string>* notes, BuildStoreCounts* counts,
                   std::string* error);

// Writes the list, signed unless privateKey is empty, after flushing everything it names.
bool publishBuildList(const std::string& www, const BuildList& list, const std::string& privateKey,
                      std::string* error);

// What `verify` finds wrong with the served list (none served: nothing).
std::vector<std::string> verifyBuildList(const std::string& www, const ManifestContents& contents,
                                         const std::string& publicKeyHex);

// Removes every payload below Player/Files/ and Player/Deltas/ that neither list names, adding each
// removed path (below www) and its size. false, with nothing removed, when a list is missing or does
// not read while payloads are stored: a damaged list must never empty the store.
bool pruneStore(const std::string& www, std::vector<std::pair<std::string, uint64_t>>* removed,
                std::string* error);
