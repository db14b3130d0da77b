// The download speed limit as each Windows user keeps it: a small file in the user's application-data
// folder (%APPDATA%\VYRLauncher\download-speed.txt), outside the game folder, so reinstalling or
// repairing the game keeps the choice and every user of the machine has their own. Read by the
// launcher and Updater at their start, written by the launcher's menu.
#pragma once

// Bytes per second; 0 (unlimited) when there is no file or it does not read.
long long readUserSpeedLimit();

// Written whole (a temporary file, flushed, renamed over the old one); false when it could not be.
bool writeUserSpeedLimit(long long bytesPerSecond);
