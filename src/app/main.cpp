// Entry point of VYRLauncher.exe.
#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLineText, int) {
    return runLauncher(instance, commandLineText);
}
