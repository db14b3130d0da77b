// A pending step rebuilt from the signed delta list instead of its archive: the launcher's worker
// loads the run's list once and asks here first for every step.
#pragma once

#include "app/version_step.h"
#include "formats/delta_list.h"

// A build with a key loads the run's delta list when steps are pending; without a list every step
// takes its archive.
void loadDeltaListForRun();

enum class DeltaStepOutcome {
    Applied,     // every file of the step is its target and the delete list ran: record the version
    UseArchive,  // no usable plan, or a payload that would not do: fetch the archive as ever
    Failed,      // a failure the archive would meet as well (network, disk); the status says which
};

DeltaStepOutcome applyStepFromDeltas(const VersionStep& step);

// One file from its whole payload (`entry.hasBase` false): downloaded beside the target, checked,
// unpacked into the part file and renamed over the target. A refused payload leaves no work file; a
// failed download keeps its part for the next run to resume. Applied, or Failed with the status line saying why.
DeltaStepOutcome bringWholeFileInPlace(const DeltaEntry& entry);

// Once a step is in place, by its payloads or its archive: the payloads and part files a killed or
// abandoned run left for that step (or an earlier one) go, then their marker. Without a marker nothing
// is looked at, so a step of many entries costs no deletes.
void removeDeltaLeftovers(const VersionStep& step);
