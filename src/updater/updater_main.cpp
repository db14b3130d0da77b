// Updater.exe: started by the launcher when the manifest names a newer launcher or installer.
#include <windows.h>

#include "formats/version_text.h"
#include "logging/support_log.h"
#include "network/transfer_pace.h"
#include "settings/user_speed_limit.h"
#include "updater/updater_texts.h"
#include "updater/updater_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The whole command line: the launcher's hand-off begins with the program's name.
    openSupportLog("Updater");
    UpdaterCommand command;
    if (!parseUpdaterCommandLine(GetCommandLineA(), &command)) {
        LogEvent event = logEvent(kLogFailure);
        event.message = updater_text::kBadCommandLine;
        writeLogEvent(event);
        MessageBoxA(nullptr, updater_text::kBadCommandLine, updater_text::kErrorTitle, MB_OK | MB_ICONERROR);
        return kUpdaterBadCommandLine;
    }
    // The player's speed limit holds for the launcher's own update too.
    setTransferSpeedLimit(readUserSpeedLimit());
    return runUpdaterWindow(instance, command);
}
