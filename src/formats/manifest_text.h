// The version manifest's text format: "[INSTALLER]", "[LAUNCHER]" and "[PLAYER]" sections read line by
// line into the version texts and the pending patch steps; and its writer for vyr-publish, which reads
// back what it writes through the launcher's own line reader. Free of Windows headers.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "app/version_step.h"

enum { kManifestPieceLength = 1022 };

// The major part of a game version. The launcher patches only within one major version and asks the
// player to install the client again when the manifest's latest step is of another.
enum { kGameMajorDivisor = 10000 };
inline int gameMajorVersion(int version) { return version / kGameMajorDivisor; }

// Other servers that serve the same patch files below the same paths, each an https base URL ending in
// '/'. Read only from a "[MIRRORS]" section that comes before every other section: there launchers that
// know nothing of mirrors are still in no section and skip its lines whatever they hold, while after
// "[PLAYER]" they would read each line as a step.
enum { kMaxMirrors = 8, kMirrorUrlSize = 160 };

// Where the parsed values go (the launcher passes the fields of its state record).
struct ManifestTargets {
    char* installerVersion;  // kVersionTextSize bytes; kept when the manifest does not mention it
    char* launcherVersion;   // kVersionTextSize bytes; likewise
    int* serverGameVersion;  // the last nonzero number of the "[PLAYER]" section
    VersionStep* steps;      // kMaxVersionSteps slots, zeroed by every "[PLAYER]" header
    int* totalFileCount;
    int* stepTableCut;       // set to 1 when a pending step could not be read whole; may be null
    char (*mirrors)[kMirrorUrlSize];  // kMaxMirrors slots; with mirrorCount may be null (not read)
    int* mirrorCount;                  // emptied by beginManifest; URLs beyond kMaxMirrors are ignored
};

enum class ManifestSection { None, Mirrors, Installer, Launcher, Player };

struct ManifestReader {
    ManifestTargets targets;
    int localGameVersion;  // only newer steps are stored
    ManifestSection section;
    int storedSteps;
    bool tableCut;  // a pending step was unreadable: no later step may be stored, or it would be skipped
};

void beginManifest(ManifestReader* reader, const ManifestTargets& targets, int localGameVersion);

// Handles one line, with or without its line feed. A version word of more than 31 characters or
// holding anything but digits and dots is ignored (the text goes into Updater's command line). A step
// line that cannot be stored whole (a file name of more than 127 characters, a number beyond the
// 32-bit range) ends the step table when the step is pending, since applying the later steps would
// skip it; at or below the installed version it is skipped. Once kMaxVersionSteps steps are stored,
// later step lines are still read for the server's game version but wait for the next reading, made
// from the version the stored steps reach (the update worker's next pass).
void readManifestLine(ManifestReader* reader, const char* line);

// A line that could not be read whole (longer than one piece, or holding a NUL byte): `prefix` is
// what came before the cut. A pending step ends the table as above; anything else is skipped.
void readBrokenManifestLine(ManifestReader* reader, const char* prefix);

// Reads the whole file in pieces of at most kManifestPieceLength characters. A longer line, or one
// with a NUL byte, is a broken line: never cut into a different name, never merged with the next.
void readManifestFile(FILE* file, const ManifestTargets& targets, int localGameVersion);

// Whether the file has a "[PLAYER]" header line: without one it is not a manifest at all (an error
// page, say), whatever else it holds. Reads the file to its end.
bool hasPlayerSection(FILE* file);

// The whole manifest as the publishing side keeps it: both version texts and every step of the last
// "[PLAYER]" section in file order, each line read by readManifestLine (without the launcher's window of
// kMaxVersionSteps pending steps, which depends on the installed version).
struct ManifestContents {
    char installerVersion[kVersionTextSize];
    char launcherVersion[kVersionTextSize];
    std::vector<VersionStep> steps;
    std::vector<std::string> mirrors;
};

// false when a step line could not be read whole: the launcher ends its table there, so the steps
// after it are never applied, and the publisher must not build on such a manifest.
bool readManifestContents(FILE* file, ManifestContents* contents);
bool sameManifestContents(const ManifestContents& a, const ManifestContents& b);

// A version text the launcher reads as written: four dot-separated decimal numbers within the 32-bit
// range ("A.B.C.D"), at most kVersionTextSize - 1 characters.
bool isPublishableVersionText(const char* text);
// A name a "[PLAYER]" step line carries: the launcher's path rule, no white space, at most
// kStepFileNameSize - 1 characters, not a folder.
bool isManifestFileName(const char* name);

// A base URL a "[MIRRORS]" line may carry: "https://", a host, only printable ASCII without white
// space, ending in '/', shorter than kMirrorUrlSize.
bool isMirrorUrl(const char* url);

// What is wrong with the manifest's mirror section, one text each: a "[MIRRORS]" header after another
// section, a line that is not a mirror URL, more than kMaxMirrors URLs. Reads the file to its end.
std::vector<std::string> mirrorSectionProblems(FILE* file);

// The manifest text: the mirror section when there are mirrors, then the three sections, each version
// text on its own line (none when empty) and one line per step. false, with *problem naming the cause, when a field cannot be written so that the
// launcher reads it back unchanged (a step numbered 0, more than kMaxStepFiles names, a refused name or
// version text, a line over kManifestPieceLength characters, a URL that is not a mirror URL, more than
// kMaxMirrors of them).
bool formatManifest(const ManifestContents& contents, std::string* text, std::string* problem);
