// What Updater shows and the names it uses, in one place, and its exit codes.
#pragma once

// Exit codes. Only kUpdaterDone follows a started launcher; every other code leaves the installed
// launcher as it was and starts nothing, so a failed update can never hand off again and again.
enum UpdaterExitCode {
    kUpdaterDone = 0,            // updated, and the launcher was started
    kUpdaterFailed = 1,          // a download, check, swap or installer failed; a message box said why
    kUpdaterBadCommandLine = 2,  // the command line did not parse; nothing was downloaded
    kUpdaterCancelled = 3,       // the player pressed Cancel (or closed the window) before the swap, or
                                 // while the installer ran (which is then ended)
    kUpdaterNotStarted = 4,      // the launcher could not be started (a new one was swapped back for the
                                 // old); a message box said why
};

namespace updater_text {

const char kWindowTitle[] = "Norvane Updater";
const char kErrorTitle[] = "Error";
const char kCancel[] = "Cancel";

const char kBadCommandLine[] =
    "Updater is started by the Norvane launcher:\n"
    "Updater Launcher <process id> <version> <base URL>\n"
    "Updater Installer 0 <version> <base URL>";

const char kWaitingForLauncher[] = "Waiting for the launcher to close...";
const char kCloseLauncher[] = "The Norvane launcher is still running.\nPlease close it, then press Retry.";
const char kDownloadingLauncher[] = "Downloading the new launcher...";
const char kDownloadingInstaller[] = "Downloading the installer...";
const char kCheckingDownload[] = "Checking the download...";
const char kReplacingLauncher[] = "Installing the new launcher...";
const char kRunningInstaller[] = "Running the installer...";
const char kStartingLauncher[] = "Starting the launcher...";

// Failures: a reason, then what was kept.
const char kLauncherKept[] = "Your current launcher was kept. Please try again later.";
const char kInstallerNotDone[] = "The game's installation was not updated. Please try again later.";
const char kNoOwnFolder[] = "Updater could not find its own folder (error %lu).";
const char kDownloadFailed[] = "%s could not be downloaded (%s).";
const char kIndexFailed[] = "The signed patch index could not be verified (%s).";
const char kNotInIndex[] = "%s is not listed in the signed patch index.";
const char kHashMismatch[] = "%s does not match the signed patch index (%s).";
const char kWrongVersion[] = "The downloaded launcher is version %s, but version %s was expected.";
const char kNoVersion[] = "The downloaded launcher has no version information (expected %s).";
const char kNotWholeImage[] = "The downloaded launcher is cut short or damaged.";
const char kReplaceFailed[] = "The launcher could not be replaced (error %lu).";
const char kInstallerStartFailed[] = "The installer could not be started (error %lu).";
const char kPathTooLong[] = "The download could not be saved: the folder's path is too long.";
const char kInstallerExitCode[] = "The installer ended with code %lu.";
const char kInstallerVersionOld[] = "After the installer, the installed version is %s, older than %s.";
const char kInstallerVersionMissing[] = "After the installer, no installed version was recorded (expected %s).";
const char kLauncherNotStarted[] = "The launcher could not be started (error %lu).";
const char kNewLauncherNotStarted[] =
    "The new launcher could not be started (error %lu). Your previous launcher was put back.";
const char kNewLauncherNotStartedNoWayBack[] =
    "The new launcher could not be started (error %lu), and your previous launcher could not be put back "
    "(error %lu). Please install the game again.";

}  // namespace updater_text

// Server paths below the base URL and local names in Updater's folder.
namespace updater_file {

const char kLauncherUrlPath[] = "Launcher/VYRLauncher.exe";
const char kInstallerUrlPath[] = "Installer/NorvaneSetup.exe";
const char kIndexUrlPath[] = "PatchIndex.txt";

const char kLauncher[] = "VYRLauncher.exe";
const char kLauncherDownload[] = "VYRLauncher.download.exe";
const char kLauncherBackup[] = "VYRLauncher.old.exe";
const char kInstallerDownload[] = "NorvaneSetup.download.exe";
const char kIndexDownload[] = "PatchIndex.download.txt";
const char kDeltaListDownload[] = "PatchDeltas.download.txt";
// The payload a delta path downloads, named like every payload beside its target.
const char kLauncherDelta[] = "VYRLauncher.exe.vyr-delta";
const char kLauncherDeltaDownload[] = "VYRLauncher.exe.vyr-delta.download";
const char kLauncherDeltaValidator[] = "VYRLauncher.exe.vyr-delta.download.validator";

}  // namespace updater_file
