// Starts "Norvane.exe" from the launcher's folder with the launcher's own command-line text; the shell
// request comes first (it may elevate), a direct process start second, then one explaining message.
#include "launch/game_launch.h"

#include <windows.h>

#include <cstdio>

#include "app/launcher_state.h"
#include "launch/launch_errors.h"
#include "logging/support_log.h"
#include "settings/launcher_settings.h"

namespace {

// The full game path, or false when it does not fit: a cut path could start another program.
bool formatGamePath(char* out, size_t outSize) {
    int written = snprintf(out, outSize, "%s\\%s", gState.moduleDirectory, settingText(SettingText::GameExeName));
    return written >= 0 && static_cast<size_t>(written) < outSize;
}

bool startThroughShell(const char* gamePath, const char* parameters) {
    gState.gameLaunchInfo.lpFile = gamePath;
    gState.gameLaunchInfo.lpParameters = parameters;
    gState.gameLaunchInfo.nShow = SW_SHOWNORMAL;
    return ShellExecuteExA(&gState.gameLaunchInfo) != FALSE;
}

// Answers 0 on success, else the system error code.
DWORD startDirectly(const char* gamePath, char* commandLine) {
    STARTUPINFOA startupInfo{};
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo{};
    if (!CreateProcessA(gamePath, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                        &startupInfo, &processInfo)) {
        return GetLastError();
    }
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return 0;
}

void showLaunchFailure(DWORD errorCode) {
    char message[512] = {};
    formatLaunchFailure(errorCode, message, sizeof message);
    HWND owner = launchFailureMessageIndex(errorCode) == 0 ? nullptr : gState.mainWindow;
    LogEvent event = logEvent(kLogFailure);
    event.name = settingText(SettingText::GameExeName);
    event.error = errorCode;
    event.message = message;
    writeLogEvent(event);
    MessageBoxA(owner, message, "Error", MB_OK | MB_SYSTEMMODAL);
}

}  // namespace

int launchGame(const char* commandLine) {
    char szEXE[1024] = {};
    char exe_file[256] = {};
    // Both copies hold the whole command line the launcher keeps, so nothing is cut on the way.
    char szParm1[kCommandLineSize] = {};
    snprintf(szParm1, sizeof szParm1, "%s", commandLine ? commandLine : "");

    if (!formatGamePath(szEXE, sizeof szEXE) || !formatGamePath(exe_file, sizeof exe_file)) {
        showLaunchFailure(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (startThroughShell(szEXE, szParm1)) return 1;

    char directCommandLine[kCommandLineSize] = {};
    snprintf(directCommandLine, sizeof directCommandLine, "%s", szParm1);
    DWORD error = startDirectly(exe_file, directCommandLine);
    if (error == 0) return 1;
    showLaunchFailure(error);
    return 0;
}
