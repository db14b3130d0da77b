// The launcher through a delta: when the signed delta list has a payload from the installed launcher
// to the one the signed index names for Launcher/, Updater fetches that payload and rebuilds the new
// launcher from it, instead of downloading the whole file.
#pragma once
#include "updater/updater_fetch.h"

// Rebuilds the served launcher into downloadPath (the file the whole download would have filled)
// from a payload against installedLauncher; true only when downloadPath then holds exactly the bytes
// the signed index names. On false nothing of the attempt is left, and the caller downloads the whole
// file; *cancelled tells a player's cancel apart, which must not be followed by the whole download.
bool fetchLauncherThroughDelta(const char* baseUrl, const char* folder, const char* installedLauncher,
                               const char* downloadPath, const FetchHooks* hooks, bool* cancelled);
