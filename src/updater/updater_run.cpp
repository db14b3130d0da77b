// Launcher mode: wait for the old launcher to end, fetch and check the new one, swap it in, start it.
// Installer mode: fetch and check the installer, run it, check the version it recorded, start the
// launcher. A launcher is started only after a step that makes the next hand-off unnecessary.
#include "updater/updater_run.h"

#include <cstdio>
#include <cstring>

#include "update/version_check.h"
#include "updater/updater_steps.h"
#include "updater/updater_texts.h"

namespace {

const DWORD kLauncherExitWaitMs = 60000;

struct Folder {
    char path[kPathSize];
};

void fail(UpdaterOutcome* outcome, int exitCode, const char* reason) {
    outcome->exitCode = exitCode;
    if (exitCode == kUpdaterCancelled) {
        outcome->message[0] = '\0';
        return;
    }
    const char* kept = exitCode == kUpdaterFailed ? updater_text::kLauncherKept : "";
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
bool waitForLauncherEnd(uint32_t processId, const UpdaterUi& ui) {
    ui.status(updater_text::kWaitingForLauncher);
    for (;;) {
        WaitResult result = waitForProcessEnd(processId, kLauncherExitWaitMs, ui.fetch.cancelled);
        if (result == kProcessEnded) return true;
        if (result == kWaitCancelled || !ui.askToCloseLauncher()) return false;
    }
}

// The downloaded launcher must say it is the version the manifest named: a server still handing out
// the old build would otherwise send the player round the hand-off for ever.
bool hasExpectedVersion(const char* path, const char* expected, UpdaterOutcome* outcome) {
    int words[4] = {};
    char reason[256];
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
        failWithCode(outcome, updater_text::kReplaceFailed, ERROR_BUFFER_OVERFLOW);
        return false;
    }
    char reason[kOutcomeMessageSize] = {};
    int result = fetchVerifiedFile(command.baseUrl, urlPath, downloadPath, indexPath, what, &ui.fetch, reason,
                                   sizeof reason);
    if (result == kFetchOk) return true;
    fail(outcome, result == kFetchCancelled ? kUpdaterCancelled : kUpdaterFailed, reason);
    return false;
}

void startLauncher(const Folder& folder, const UpdaterUi& ui, UpdaterOutcome* outcome) {
    ui.status(updater_text::kStartingLauncher);
    char launcherPath[kPathSize];
    DWORD error = ERROR_BUFFER_OVERFLOW;
    if (pathInFolder(folder.path, updater_file::kLauncher, launcherPath) &&
        startProgram(launcherPath, folder.path, nullptr, &error)) {
        outcome->exitCode = kUpdaterDone;
        return;
    }
    char reason[256];
    snprintf(reason, sizeof reason, updater_text::kLauncherNotStarted, static_cast<unsigned long>(error));
    fail(outcome, kUpdaterNotStarted, reason);
}

void updateLauncher(const Folder& folder, const UpdaterCommand& command, const UpdaterUi& ui,
                    UpdaterOutcome* outcome) {
    if (!waitForLauncherEnd(command.processId, ui)) return fail(outcome, kUpdaterCancelled, "");
    ui.status(updater_text::kDownloadingLauncher);
    char download[kPathSize];
    if (!fetchInto(folder, command, updater_file::kLauncherUrlPath, updater_file::kLauncherDownload,
                   "The new launcher", ui, download, outcome)) {
        return;
    }
    ui.status(updater_text::kCheckingDownload);
    bool ready = hasExpectedVersion(download, command.version, outcome);
    if (ready && cancelled(ui)) {
        fail(outcome, kUpdaterCancelled, "");
        ready = false;
    }
    char target[kPathSize];
    char backup[kPathSize];
    DWORD error = ERROR_BUFFER_OVERFLOW;
    if (ready) {
        ui.status(updater_text::kReplacingLauncher);
        ready = pathInFolder(folder.path, updater_file::kLauncher, target) &&
                pathInFolder(folder.path, updater_file::kLauncherBackup, backup) &&
                replaceKeepingOld(target, download, backup, &error);
        if (!ready) failWithCode(outcome, updater_text::kReplaceFailed, error);
    }
    DeleteFileA(download);  // after a swap it is already gone
    if (ready) startLauncher(folder, ui, outcome);
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
        ready = runProgramToEnd(installer, folder.path, &exitCode, &error);
        if (!ready) failWithCode(outcome, updater_text::kInstallerStartFailed, error);
    }
    DeleteFileA(installer);
    if (ready && exitCode != 0) {
        failWithCode(outcome, updater_text::kInstallerExitCode, exitCode);
        ready = false;
    }
    if (ready && installerVersionReached(command.version, outcome)) startLauncher(folder, ui, outcome);
}

}  // namespace

void runUpdate(const UpdaterCommand& command, const UpdaterUi& ui, UpdaterOutcome* outcome) {
    memset(outcome, 0, sizeof *outcome);
    Folder folder;
    if (!findOwnFolder(folder.path)) return failWithCode(outcome, updater_text::kReplaceFailed, GetLastError());
    SetCurrentDirectoryA(folder.path);  // the transfer's free-space check looks at the current volume
    if (command.kind == HandOff::Launcher) updateLauncher(folder, command, ui, outcome);
    else updateWithInstaller(folder, command, ui, outcome);
}
