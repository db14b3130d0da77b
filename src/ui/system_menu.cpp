#include "ui/system_menu.h"

#include "logging/support_log.h"

void buildSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kOpenLogFolderCommand, "Open log folder");
}

bool runSystemMenuCommand(HWND window, WPARAM command) {
    (void)window;
    switch (static_cast<UINT>(command & 0xFFF0)) {
    case kOpenLogFolderCommand: showSupportLogInExplorer(); return true;
    default: return false;
    }
}
