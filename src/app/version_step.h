// One pending game patch step, as the manifest announces it and the update worker applies it.
#pragma once

enum { kMaxVersionSteps = 100, kMaxStepFiles = 16, kStepFileNameSize = 128, kVersionTextSize = 32 };

struct VersionStep {
    int version;
    int fileCount;  // 0 to kMaxStepFiles
    char files[kMaxStepFiles][kStepFileNameSize];
};
