#include "ui/system_menu.h"

#include "repair/game_check.h"
#include "verification/patch_verify.h"

void buildSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    // Only a build with a key has the signed whole-build list to check against.
    if (patchIndexRequired()) AppendMenuA(menu, MF_STRING, kVerifyGameFilesCommand, "Verify game files");
}

bool runSystemMenuCommand(HWND window, WPARAM command) {
    (void)window;
    switch (static_cast<UINT>(command & 0xFFF0)) {
    case kVerifyGameFilesCommand: startGameCheck(); return true;
    default: return false;
    }
}
