// The start-up sequence and the main loop of the launcher.
#pragma once
#include <windows.h>

int runLauncher(HINSTANCE instance, const char* commandLineText);
// Moves the window to (windowX, windowY) and takes the layer position and size from it.
void placeWindows();
