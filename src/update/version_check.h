// The installer and launcher version checks that decide a hand-off to Updater.
#pragma once

// The launcher executable's own file version: major, minor, build, revision. false on failure.
bool readOwnFileVersion(int version[4]);
int isInstallerOutdated();
int isLauncherOutdated();
