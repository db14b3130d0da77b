// The support log every program of the game folder appends to: VYRLauncher.log beside the launcher, or
// in the player's local application-data folder when the game folder cannot be written. One line per
// event, appended with one write; bounded, the previous file kept as VYRLauncher.log.1.
#pragma once
#include <cstddef>

#include "formats/own_file_names.h"
#include "logging/log_line.h"

enum { kSupportLogPathSize = 520 };

// The bound: a line that would take the file past it first moves the file to ".1".
const long long kSupportLogLimit = 1ll << 20;

// Where this process logs: the game folder (the program's own) when a file can be opened for appending
// there, else <local application data>\VYRLauncher. Called once, before the first event; until then,
// and when neither folder takes a file, events are dropped: a log must never stop a patch.
void openSupportLog(const char* program);

// The same with the folders given, for a test or a tool that knows them. Answers whether either took.
bool openSupportLogIn(const char* program, const char* gameFolder, const char* fallbackFolder);

// Appends one event; safe from any thread and from several processes at once.
void writeLogEvent(const LogEvent& event);

// The folder that holds the log, without a trailing separator; false when the log is not open.
bool supportLogFolder(char* folder, size_t folderSize);

// Opens the log's folder in Explorer with the log selected, so a player can attach it to a message.
void showSupportLogInExplorer();
