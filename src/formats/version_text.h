// Version texts "%d.%d.%d.%d" as the manifest and the registry hold them, their comparison, and the
// Updater command lines of the hand-off, written by the launcher and read by Updater. Free of Windows headers.
#pragma once
#include <cstddef>
#include <cstdint>

// Four signed components: major, minor, build, revision (the layout of launcherFileVersion).
struct VersionQuad {
    int32_t component[4];
};

// One "%d" as scanf reads it: white space, an optional sign, digits. false when there is no number
// or it lies beyond the 32-bit range; on success *text is advanced past the number.
bool scanDecimalInteger(const char** text, int32_t* value);

// Reads "%d.%d.%d.%d": the scan stops at the first part that does not match and the remaining
// components stay 0, so "1.2" is 1.2.0.0 and "" or "beta" is 0.0.0.0. A number beyond the 32-bit
// range ends the scan like a mismatch. A null text reads as 0.0.0.0.
VersionQuad readVersionText(const char* text);

// -1 when a is older than b, 1 when newer, 0 when equal; components compare as signed integers.
int compareVersions(const VersionQuad& a, const VersionQuad& b);

enum class HandOff { Installer, Launcher };

// Formats "Updater Installer %d %s %s" or "Updater Launcher %d %s %s" into buffer (zeroed first).
// true when the whole command line fits; a cut one would name the wrong version or server.
bool formatUpdaterCommandLine(char* buffer, size_t bufferSize, HandOff kind, int processId, const char* version,
                              const char* baseUrl);

enum { kUpdaterVersionSize = 64, kUpdaterBaseUrlSize = 1024 };

struct UpdaterCommand {
    HandOff kind;
    uint32_t processId;  // the launcher to wait for; 0 in installer hand-offs
    char version[kUpdaterVersionSize];
    char baseUrl[kUpdaterBaseUrlSize];
};

// Reads a hand-off command line as formatUpdaterCommandLine writes it, with or without the program's
// name (plain or quoted) as its first word: "Launcher|Installer <decimal id> <version> <base URL>".
// The version is one to four numbers joined by single dots; the base URL must split with splitUrl.
// false for anything else, including words beyond the fourth.
bool parseUpdaterCommandLine(const char* commandLine, UpdaterCommand* command);
