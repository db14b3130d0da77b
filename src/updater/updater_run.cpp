// Launcher mode: wait for the old launcher to end, fetch and check the new one, swap it in, start it.
// Installer mode: fetch and check the installer, run it, check the version it recorded, start the
// launcher. A launcher is started only after a step that makes the next hand-off unnecessary.
#include "updater/updater_run.h"

#include <cstdio>
#include <cstring>

#include "logging/support_log.h"
#include "update/launcher_swap.h"
#include "update/version_check.h"
#include "updater/updater_delta.h"
#include "updater/updater_steps.h"
#include "updater/updater_texts.h"

namespace {

const DWORD kLauncherExitWaitMs = 60000;

struct Folder {
    char path[kPathSize];
    char launcher[kPathSize];
    char backup[kPathSize];
    char download[kPathSize];
};

bool findFolder(Folder* folder) {
    return findOwnFolder(folder->path) && pathInFolder(folder->path, updater_file::kLauncher, folder->launcher) &&
           pathInFolder(folder->path, updater_file::kLauncherBackup, folder->backup) &&
           pathInFolder(folder->path, updater_file::kLauncherDownload, folder->download);
}

// A failed installer hand-off keeps the launcher too, but the player waited for the game's installer.
void fail(UpdaterOutcome* outcome, int exitCode, const char* reason) {
    outcome->exitCode = exitCode;
    if (exitCode == kUpdaterCancelled) {
        outcome->message[0] = '\0';
        return;
    }
    const char* keptText = outcome->kind == HandOff::Installer ? updater_text::kInstallerNotDone
                                                                : updater_text::kLauncherKept;
    const char* kept = exitCode == kUpdaterFailed ? keptText : "";
    snprintf(outcome->message, sizeof outcome->message, "%s%s%s", reason, *kept ? "\n\n" : "", kept);
}

void failWithCode(UpdaterOutcome* outcome, const char* format, DWORD code) {
    char reason[256];
    snprintf(reason, sizeof reason, format, static_cast<unsigned long>(code));
    fail(outcome, kUpdaterFailed, reason);
}

bool cancelled(const UpdaterUi& ui) {
    return ui.fetch.cancelled && ui.fetch.cancelled();
}

// false when the player gave up waiting or cancelled.
bool waitForLauncherEnd(uint32_t processId, const char* launcherPath, const UpdaterUi& ui) {
    ui.status(updater_text::kWaitingForLauncher);
    for (;;) {
        WaitResult result = waitForProcessEnd(processId, launcherPath, kLauncherExitWaitMs, ui.fetch.cancelled);
        if (result == kProcessEnded) return true;
        if (result == kWaitCancelled || !ui.askToCloseLauncher()) return false;
    }
}

// The downloaded launcher must be whole, and say it is the version the manifest named: a server still
// handing out the old build would otherwise send the player round the hand-off for ever.
bool isExpectedLauncher(const char* path, const char* expected, UpdaterOutcome* outcome) {
    int words[4] = {};
    char reason[256];
    if (!isWholeImageFile(path)) {
        fail(outcome, kUpdaterFailed, updater_text::kNotWholeImage);
        return false;
    }
    if (!readFileVersion(path, words)) {
        snprintf(reason, sizeof reason, updater_text::kNoVersion, expected);
        fail(outcome, kUpdaterFailed, reason);
        return false;
    }
    VersionQuad found{{words[0], words[1], words[2], words[3]}};
    if (compareVersions(found, readVersionText(expected)) == 0) return true;
    char foundText[64];
    snprintf(foundText, sizeof foundText, "%d.%d.%d.%d", words[0], words[1], words[2], words[3]);
    snprintf(reason, sizeof reason, updater_text::kWrongVersion, foundText, expected);
    fail(outcome, kUpdaterFailed, reason);
    return false;
}

// Fetches urlPath into the folder's download name; false with the outcome set otherwise.
bool fetchInto(const Folder& folder, const UpdaterCommand& command, const char* urlPath, const char* download,
               const char* what, const UpdaterUi& ui, char (&downloadPath)[kPathSize], UpdaterOutcome* outcome) {
    char indexPath[kPathSize];
    if (!pathInFolder(folder.path, download, downloadPath) ||
        !pathInFolder(folder.path, updater_file::kIndexDownload, indexPath)) {
        fail(outcome, kUpdaterFailed, updater_text::kPathTooLong);
        return false;
    }
    char reason[kOutcomeMessageSize] = {};
    int result = fetchVerifiedFile(command.baseUrl, urlPath, downloadPath, indexPath, what, &ui.fetch, reason,
                                   sizeof reason);
    if (result == kFetchOk) return true;
    fail(outcome, result == kFetchCancelled ? kUpdaterCancelled : kUpdaterFailed, reason);
    return false;
}

// Through a delta from the installed launcher when the signed lists offer one, else whole.
bool fetchNewLauncher(const Folder& folder, const UpdaterCommand& command, const UpdaterUi& ui,
                      char (&download)[kPathSize], UpdaterOutcome* outcome) {
    ui.status(updater_text::kDownloadingLauncher);
    bool cancelledDelta = false;
    if (fetchLauncherThroughDelta(command.baseUrl, folder.path, folder.launcher, folder.download, &ui.fetch,
                                  &cancelledDelta)) {
        snprintf(download, sizeof download, "%s", folder.download);
        return true;
    }
    if (cancelledDelta) {
        fail(outcome, kUpdaterCancelled, "");
        return false;
    }
    return fetchInto(folder, command, updater_file::kLauncherUrlPath, updater_file::kLauncherDownload,
                     "The new launcher", ui, download, outcome);
}

void startLauncher(const Folder& folder, const UpdaterUi& ui, UpdaterOutcome* outcome) {
    ui.status(updater_text::kStartingLauncher);
    DWORD error = 0;
    if (startProgram(folder.launcher, folder.path, nullptr, &error)) {
        outcome->exitCode = kUpdaterDone;
        return;
    }
    char reason[256];
    snprintf(reason, sizeof reason, updater_text::kLauncherNotStarted, static_cast<unsigned long>(error));
    fail(outcome, kUpdaterNotStarted, reason);
}

// The old launcher stays as the backup until the new one has shown that it starts; a new one that
// does not start is swapped back for it, and nothing is started, so the player is not sent round
// the hand-off again.
void startSwappedLauncher(const Folder& folder, const UpdaterUi& ui, UpdaterOutcome* outcome) {
    ui.status(updater_text::kStartingLauncher);
    DWORD error = 0;
    // Held open while the new launcher is watched: its start-up removes an interrupted swap's backup,
    // and a launcher that fails after that point must still find the old one here to go back to.
    HANDLE heldBackup = holdAgainstDeletion(folder.backup);
    bool started = startProgramChecked(folder.launcher, folder.path, &error);
    if (heldBackup != INVALID_HANDLE_VALUE) CloseHandle(heldBackup);
    if (started) {
        removeLauncherBackup(folder.backup);
        outcome->exitCode = kUpdaterDone;
        return;
    }
    char reason[512];
    DWORD restoreError = 0;
    if (putBackOldLauncher(folder.launcher, folder.backup, &restoreError)) {
        snprintf(reason, sizeof reason, updater_text::kNewLauncherNotStarted, static_cast<unsigned long>(error));
    } else {
        snprintf(reason, sizeof reason, updater_text::kNewLauncherNotStartedNoWayBack,
                 static_cast<unsigned long>(error), static_cast<unsigned long>(restoreError));
    }
    fail(outcome, kUpdaterNotStarted, reason);
}

void updateLauncher(const Folder& folder, const UpdaterCommand& command, const UpdaterUi& ui,
                    UpdaterOutcome* outcome) {
    if (!waitForLauncherEnd(command.processId, folder.launcher, ui)) return fail(outcome, kUpdaterCancelled, "");
    char download[kPathSize];
    if (!fetchNewLauncher(folder, command, ui, download, outcome)) return;
    ui.status(updater_text::kCheckingDownload);
    bool ready = isExpectedLauncher(download, command.version, outcome);
    if (ready && cancelled(ui)) {
        fail(outcome, kUpdaterCancelled, "");
        ready = false;
    }
    DWORD error = 0;
    if (ready) {
        ui.status(updater_text::kReplacingLauncher);
        ready = swapInLauncher(folder.launcher, download, folder.backup, &error);
        if (!ready) failWithCode(outcome, updater_text::kReplaceFailed, error);
    }
    DeleteFileA(download);  // after a swap it is already gone
    if (ready) startSwappedLauncher(folder, ui, outcome);
}

// The registry value the installer leaves must have reached the version the manifest named.
bool installerVersionReached(const char* expected, UpdaterOutcome* outcome) {
    VersionQuad installed{};
    char reason[256];
    if (!readInstalledInstallerVersion(&installed)) {
        snprintf(reason, sizeof reason, updater_text::kInstallerVersionMissing, expected);
        fail(outcome, kUpdaterFailed, reason);
        return false;
    }
    if (compareVersions(installed, readVersionText(expected)) >= 0) return true;
    char installedText[64];
    snprintf(installedText, sizeof installedText, "%d.%d.%d.%d", installed.component[0], installed.component[1],
             installed.component[2], installed.component[3]);
    snprintf(reason, sizeof reason, updater_text::kInstallerVersionOld, installedText, expected);
    fail(outcome, kUpdaterFailed, reason);
    return false;
}

void updateWithInstaller(const Folder& folder, const UpdaterCommand& command, const UpdaterUi& ui,
                         UpdaterOutcome* outcome) {
    ui.status(updater_text::kDownloadingInstaller);
    char installer[kPathSize];
    if (!fetchInto(folder, command, updater_file::kInstallerUrlPath, updater_file::kInstallerDownload,
                   "The installer", ui, installer, outcome)) {
        return;
    }
    bool ready = !cancelled(ui);
    if (!ready) fail(outcome, kUpdaterCancelled, "");
    DWORD exitCode = 0;
    DWORD error = 0;
    if (ready) {
        ui.status(updater_text::kRunningInstaller);
        RunResult run = runProgramToEnd(installer, folder.path, ui.fetch.cancelled, &exitCode, &error);
        ready = run == kRunEnded;
        if (run == kRunNotStarted) failWithCode(outcome, updater_text::kInstallerStartFailed, error);
        if (run == kRunCancelled) fail(outcome, kUpdaterCancelled, "");
    }
    DeleteFileA(installer);
    if (ready && exitCode != 0) {
        failWithCode(outcome, updater_text::kInstallerExitCode, exitCode);
        ready = false;
    }
    if (ready && installerVersionReached(command.version, outcome)) startLauncher(folder, ui, outcome);
}

// Every step the player is shown goes to the support log as well.
void (*shownStatus)(const char* text) = nullptr;

void showAndLogStatus(const char* text) {
    LogEvent event = logEvent(kLogStep);
    event.message = text;
    writeLogEvent(event);
    if (shownStatus != nullptr) shownStatus(text);
}

void logStart(const UpdaterCommand& command) {
    char message[96];
    const char* what = command.kind == HandOff::Installer ? "installer" : "launcher";
    snprintf(message, sizeof message, "started for %s %s", what, command.version);
    LogEvent event = logEvent(kLogStep);
    event.message = message;
    writeLogEvent(event);
}

void logOutcome(const UpdaterOutcome& outcome) {
    LogEvent event = logEvent(outcome.message[0] != '\0' ? kLogFailure : kLogStep);
    char ended[kOutcomeMessageSize + 32];
    snprintf(ended, sizeof ended, "exit code %d: %s", outcome.exitCode,
             outcome.message[0] != '\0' ? outcome.message : "done");
    event.message = ended;
    writeLogEvent(event);
}

void carryOutUpdate(const UpdaterCommand& command, const UpdaterUi& ui, UpdaterOutcome* outcome) {
    memset(outcome, 0, sizeof *outcome);
    outcome->kind = command.kind;
    Folder folder;
    if (!findFolder(&folder)) return failWithCode(outcome, updater_text::kNoOwnFolder, GetLastError());
    SetCurrentDirectoryA(folder.path);  // the transfer's free-space check looks at the current volume
    recoverLauncherSwap(folder.launcher, folder.backup, folder.download);
    if (command.kind == HandOff::Launcher) updateLauncher(folder, command, ui, outcome);
    else updateWithInstaller(folder, command, ui, outcome);
}

}  // namespace

void runUpdate(const UpdaterCommand& command, const UpdaterUi& ui, UpdaterOutcome* outcome) {
    logStart(command);
    shownStatus = ui.status;
    UpdaterUi logged = ui;
    logged.status = showAndLogStatus;
    carryOutUpdate(command, logged, outcome);
    logOutcome(*outcome);
}
