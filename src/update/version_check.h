// The installer and launcher version checks that decide a hand-off to Updater.
#pragma once
#include "formats/version_text.h"

// The version resource of an executable file: major, minor, build, revision. false when it has none.
bool readFileVersion(const char* path, int version[4]);

// The launcher executable's own file version: major, minor, build, revision. false on failure.
bool readOwnFileVersion(int version[4]);
// "InstallerVersion" under HKLM ...\App Paths\Norvane.exe\TH as the game's installer left it, read as a
// version text. false when there is no such value or it is longer than 256 bytes.
bool readInstalledInstallerVersion(VersionQuad* installed);
int isInstallerOutdated();
int isLauncherOutdated();
