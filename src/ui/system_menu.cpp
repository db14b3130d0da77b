#include "ui/system_menu.h"

void buildSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
}

bool runSystemMenuCommand(HWND window, WPARAM command) {
    (void)window;
    switch (static_cast<UINT>(command & 0xFFF0)) {
    default: return false;
    }
}
