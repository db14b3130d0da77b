// Pause and speed items of the system menu. The '&' marks give each item a key of its own in the
// menu (none of the system's items uses P, U or D), so a player can reach them by keyboard too.
#include "ui/download_menu.h"

#include "app/launcher_state.h"
#include "network/transfer_pace.h"
#include "settings/speed_limit_text.h"
#include "settings/user_speed_limit.h"
#include "ui/system_menu.h"

namespace {

const char kPauseText[] = "&Pause download";
const char kResumeText[] = "Res&ume download";
const char kSpeedMenuText[] = "&Download speed";
const UINT kSpeedCommandStep = 16;  // the system uses the low four bits of a command

UINT speedCommand(int choice) { return kDownloadSpeedFirstCommand + static_cast<UINT>(choice) * kSpeedCommandStep; }

int speedChoiceOfCommand(UINT command) {
    if (command < kDownloadSpeedFirstCommand) return -1;
    UINT offset = command - kDownloadSpeedFirstCommand;
    if (offset % kSpeedCommandStep != 0 || offset / kSpeedCommandStep >= kSpeedChoiceCount) return -1;
    return static_cast<int>(offset / kSpeedCommandStep);
}

HMENU speedMenu = nullptr;

void checkSpeedChoice(int choice) {
    if (speedMenu == nullptr || choice < 0) return;
    CheckMenuRadioItem(speedMenu, speedCommand(0), speedCommand(kSpeedChoiceCount - 1), speedCommand(choice),
                       MF_BYCOMMAND);
}

void togglePause(HWND window) {
    LONG paused = gState.downloadPaused ? 0 : 1;
    InterlockedExchange(&gState.downloadPaused, paused);
    ModifyMenuA(GetSystemMenu(window, FALSE), kPauseDownloadCommand, MF_BYCOMMAND | MF_STRING, kPauseDownloadCommand,
                paused ? kResumeText : kPauseText);
}

// The choice holds for this run even when the user's file cannot be written.
void chooseSpeed(int choice) {
    long long bytesPerSecond = kSpeedChoices[choice].bytesPerSecond;
    setTransferSpeedLimit(bytesPerSecond);
    writeUserSpeedLimit(bytesPerSecond);
    checkSpeedChoice(choice);
}

}  // namespace

void appendDownloadMenuItems(HMENU menu) {
    AppendMenuA(menu, MF_STRING, kPauseDownloadCommand, kPauseText);
    speedMenu = CreatePopupMenu();
    if (speedMenu == nullptr) return;
    for (int choice = 0; choice < kSpeedChoiceCount; ++choice)
        AppendMenuA(speedMenu, MF_STRING, speedCommand(choice), kSpeedChoices[choice].label);
    int current = speedChoiceIndex(transferSpeedLimit());
    checkSpeedChoice(current >= 0 ? current : 0);
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(speedMenu), kSpeedMenuText);
}

bool runDownloadMenuCommand(HWND window, UINT command) {
    if (command == kPauseDownloadCommand) {
        togglePause(window);
        return true;
    }
    int choice = speedChoiceOfCommand(command);
    if (choice < 0) return false;
    chooseSpeed(choice);
    return true;
}
