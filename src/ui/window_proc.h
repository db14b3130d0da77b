// The launcher window's procedure: timer-driven pointer handling, buttons, dragging and closing.
#pragma once
#include <windows.h>

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
