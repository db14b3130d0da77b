// The version manifest's text format: "[INSTALLER]", "[LAUNCHER]" and "[PLAYER]" sections read line by
// line into the version texts and the pending patch steps. Free of Windows headers.
#pragma once
#include <cstdio>

#include "app/version_step.h"

enum { kManifestPieceLength = 1022 };

// Where the parsed values go (the launcher passes the fields of its state record).
struct ManifestTargets {
    char* installerVersion;  // kVersionTextSize bytes; kept when the manifest does not mention it
    char* launcherVersion;   // kVersionTextSize bytes; likewise
    int* serverGameVersion;  // the last nonzero number of the "[PLAYER]" section
    VersionStep* steps;      // kMaxVersionSteps slots, zeroed by every "[PLAYER]" header
    int* totalFileCount;
};

enum class ManifestSection { None, Installer, Launcher, Player };

struct ManifestReader {
    ManifestTargets targets;
    int localGameVersion;  // only newer steps are stored
    ManifestSection section;
    int storedSteps;
};

void beginManifest(ManifestReader* reader, const ManifestTargets& targets, int localGameVersion);

// Handles one line, with or without its line feed. false when reading must stop (100 steps stored).
// A version word of more than 31 characters, a file name of more than 127, or a step number beyond
// the 32-bit range makes the line malformed: it is skipped, nothing of it is stored.
bool readManifestLine(ManifestReader* reader, const char* line);

// Reads the whole file in pieces of at most kManifestPieceLength characters. A line longer than one
// piece is skipped whole, since a name cut at the piece boundary would name the wrong file.
void readManifestFile(FILE* file, const ManifestTargets& targets, int localGameVersion);
