// Replacing the launcher's own file so that VYRLauncher.exe is a whole launcher at every moment, old
// or new, and tidying what a kill in the middle leaves; shared by Updater and the launcher's start-up.
#pragma once
#include <windows.h>

// The file holds a PE image whose headers and sections all lie inside it.
bool isWholeImageFile(const char* path);

// Flushes replacement, keeps a flushed copy of target as backup, then renames replacement over target
// in one step. The backup stays until the caller knows the new launcher starts. *error gets the
// first failure's code; on failure target is untouched.
bool swapInLauncher(const char* target, const char* replacement, const char* backup, DWORD* error);

// Renames the backup over target in one step: the new launcher could not be started.
bool putBackOldLauncher(const char* target, const char* backup, DWORD* error);

// Opens path so that nobody can delete or rename it until the handle is closed; INVALID_HANDLE_VALUE
// when it cannot be opened.
HANDLE holdAgainstDeletion(const char* path);

// Removes the backup, or, when it is not there now, at the next restart (a virus scanner may hold it).
void removeLauncherBackup(const char* backup);

// Updater, before anything else: a kill during an earlier swap may have left a backup (restored when
// target is missing or not whole, removed otherwise) and a download.
void recoverLauncherSwap(const char* target, const char* backup, const char* download);

// The launcher's start-up: it is running, so the file it runs from is whole and whatever an
// interrupted swap left beside it in folder can go.
void removeLauncherSwapLeftovers(const char* folder);
