#include "ui/system_menu.h"

#include "logging/support_log.h"
#include "repair/game_check.h"
#include "ui/download_menu.h"
#include "verification/patch_verify.h"

void buildSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    appendDownloadMenuItems(menu);
    AppendMenuA(menu, MF_STRING, kOpenLogFolderCommand, "Open log folder");
    // Only a build with a key has the signed whole-build list to check against.
    if (patchIndexRequired()) AppendMenuA(menu, MF_STRING, kVerifyGameFilesCommand, "Verify game files");
}

bool runSystemMenuCommand(HWND window, WPARAM command) {
    UINT id = static_cast<UINT>(command & 0xFFF0);
    switch (id) {
    case kOpenLogFolderCommand: showSupportLogInExplorer(); return true;
    case kVerifyGameFilesCommand: startGameCheck(); return true;
    // Pause and the speed choices (a range of ids); false for any other command.
    default: return runDownloadMenuCommand(window, id);
    }
}
