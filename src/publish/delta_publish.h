// The delta list's side of publishing: the payloads of a release step and of a new launcher, the signed
// list "PatchDeltas.txt" (written after the manifest and the index, so that everything it names is
// served before it), and its checks in `verify`.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "formats/delta_list.h"
#include "formats/manifest_text.h"
#include "formats/patch_index.h"
#include "publish/release_plan.h"

// The list as served; an empty one when there is none yet. false when one is there but unreadable.
bool loadServedDeltaList(const std::string& www, DeltaList* list, std::string* error);

// Makes the payloads of step `version`, whose archive www/Player/<archiveName> is already in place,
// deltas below Player/Deltas/<version>/ and whole files in the store of Player/Files/, and puts the step's block into *list in place of any block of that
// version. A step the list cannot describe (a file above the launcher's memory cap, a folder entry, a
// name too long) gets no block, and *note says why: its players take the archive.
bool addStepDeltas(const std::string& www, int version, const std::string& archiveName, const BuildTree& oldTree,
                   DeltaList* list, std::string* note, std::string* error);

// Takes the block of `version` out of the list (a step published again without files).
void dropDeltaStep(DeltaList* list, int version);

// The delta from the launcher served now (if any, and different) to `newLauncher`, below
// Launcher/Deltas/; the list keeps only launcher lines whose target is the new launcher.
bool addLauncherDelta(const std::string& www, const std::vector<uint8_t>& newLauncher, DeltaList* list,
                      std::string* error);

// Writes the list, signed unless privateKey is empty, whole under a temporary name and renames it.
// Past the readers' size cap the oldest step blocks are dropped (and said on stdout); false when even
// the newest block alone does not fit.
bool publishDeltaList(const std::string& www, const DeltaList& list, const std::string& privateKey,
                      std::string* error);

// What `verify` finds wrong with the served list (none served: nothing). `index` is the served index.
std::vector<std::string> verifyDeltaList(const std::string& www, const ManifestContents& contents,
                                         const PatchIndex& index, const std::string& publicKeyHex);
