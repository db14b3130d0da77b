// Composes the skinned frame into a 32-bit surface and hands it to the layered window.
#pragma once
#include <windows.h>

// 0 when the DIB section could not be created.
HBITMAP createSurface(int width, int height, unsigned char** bits);
void buildAlphaMap();
// 1 when a new frame was composed, 0 when nothing shown has changed (or the launcher is ending).
int renderFrame();
void presentFrame();
