// The start-up sequence and the main loop of the launcher.
#pragma once
#include <windows.h>

int runLauncher(HINSTANCE instance, const char* commandLineText);
// Moves the window to (windowX, windowY) and takes the layer position and size from it.
void placeWindows();
// Runs the update worker: pending steps, then the check of the game files.
void startUpdateWorker();
// Runs the full check of the game files on a worker thread, when the game is shown ready and no worker
// runs; false otherwise.
bool startGameCheck();
// The id of the system menu's "Verify game files" item (low four bits clear, as system commands are).
enum { kVerifyGameFilesCommand = 0x1010 };
