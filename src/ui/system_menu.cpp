#include "ui/system_menu.h"

#include "logging/support_log.h"
#include "ui/download_menu.h"

void buildSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    appendDownloadMenuItems(menu);
    AppendMenuA(menu, MF_STRING, kOpenLogFolderCommand, "Open log folder");
}

bool runSystemMenuCommand(HWND window, WPARAM command) {
    UINT id = static_cast<UINT>(command & 0xFFF0);
    switch (id) {
    case kOpenLogFolderCommand: showSupportLogInExplorer(); return true;
    // Pause and the speed choices (a range of ids); false for any other command.
    default: return runDownloadMenuCommand(window, id);
    }
}
