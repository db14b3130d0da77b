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
    int* stepTableCut;       // set to 1 when a pending step could not be read whole; may be null
};

enum class ManifestSection { None, Installer, Launcher, Player };

struct ManifestReader {
    ManifestTargets targets;
    int localGameVersion;  // only newer steps are stored
    ManifestSection section;
    int storedSteps;
    bool tableCut;  // a pending step was unreadable: no later step may be stored, or it would be skipped
};

void beginManifest(ManifestReader* reader, const ManifestTargets& targets, int localGameVersion);

// Handles one line, with or without its line feed. false when reading must stop (100 steps stored).
// A version word of more than 31 characters or holding anything but digits and dots is ignored (the
// text goes into Updater's command line). A step line that cannot be stored whole (a file name of
// more than 127 characters, a number beyond the 32-bit range) ends the step table when the step is
// pending, since applying the later steps would skip it; at or below the installed version it is
// skipped.
bool readManifestLine(ManifestReader* reader, const char* line);

// A line that could not be read whole (longer than one piece, or holding a NUL byte): `prefix` is
// what came before the cut. A pending step ends the table as above; anything else is skipped.
bool readBrokenManifestLine(ManifestReader* reader, const char* prefix);

// Reads the whole file in pieces of at most kManifestPieceLength characters. A longer line, or one
// with a NUL byte, is a broken line: never cut into a different name, never merged with the next.
void readManifestFile(FILE* file, const ManifestTargets& targets, int localGameVersion);
