// The signed delta list of a run: fetched beside the patch index only by a build with a key, checked
// against that key and kept for the run. No list (none served, unfetchable, refused) is never an error:
// the steps then come as archives and the launcher as a whole file, as they did before deltas.
#pragma once
#include <cstddef>
#include <cstdint>

#include "formats/delta_list.h"

// Fetches <baseUrl>/PatchDeltas.txt through `localFile` (removed afterwards) and keeps it for the run
// when its signature and format are good; false otherwise, and then runDeltaList() is null.
bool loadDeltaList(const char* baseUrl, const char* localFile);

// The list loaded for this run, or nullptr.
const DeltaList* runDeltaList();

// Parses a list text and checks its signature with the key; false when either fails.
bool verifyDeltaListText(const char* text, size_t length, const uint8_t publicKey[kP256PublicKeySize], DeltaList* list);
