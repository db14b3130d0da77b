// Starts the game client from the launcher's folder and explains a failed start.
#pragma once

// 1 when the game was started, 0 after a failure message was shown.
int launchGame(const char* commandLine);
