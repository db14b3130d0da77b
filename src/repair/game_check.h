// Checking the game folder against the signed whole-build list and repairing what is wrong, on the
// update worker's thread: a quick check after every start's steps, a full one on the player's demand.
#pragma once
#include <vector>

#include "formats/repair_plan.h"

enum class GameCheck {
    Done,         // every listed file verified or repaired, or no list to check against: show ready
    ServerRefused,  // a list older than one accepted, or not signed right: the server message is shown
    Failed,       // a file could not be repaired; the status says which
};

// Fetches and judges the list, then checks and repairs; a build without a key checks nothing.
GameCheck checkGameFiles(CheckDepth depth);

// A file a step of this run just renamed into place after its bytes hashed to `sha256` (listed path,
// "/"-separated): the check that follows takes it as verified when the whole-build list names that
// content, without reading it again. Called from the one worker thread that runs at a time.
void noteFilePutInPlace(const char* listedPath, const uint8_t sha256[kSha256Size]);

// The player's full check ("Verify game files"): starts it on a worker thread when the game is shown
// ready and no worker runs; false otherwise.
bool startGameCheck();

// The pieces of the check, open to the bench: disk facts of every listed file from one enumeration
// per listed folder, and per listed file whether the plan's hashing found its bytes right (two threads).
std::vector<DiskFile> gatherDiskFacts(const BuildList& list);
std::vector<char> hashPlannedFiles(const BuildList& list, const CheckPlan& plan);
