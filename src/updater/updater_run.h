// The two hand-offs Updater carries out, from the parsed command line to an exit code and, on
// failure, the message the player is shown.
#pragma once
#include <cstddef>

#include "formats/version_text.h"
#include "updater/updater_fetch.h"

// What the steps tell the window and ask the player; set by the window, called from the worker.
struct UpdaterUi {
    void (*status)(const char* text);
    FetchHooks fetch;
    bool (*askToCloseLauncher)();  // true: wait again; false: give up
};

enum { kOutcomeMessageSize = 1024 };

struct UpdaterOutcome {
    HandOff kind;                          // which hand-off it is the outcome of
    int exitCode;                          // UpdaterExitCode
    char message[kOutcomeMessageSize];     // shown in a message box when not empty
};

void runUpdate(const UpdaterCommand& command, const UpdaterUi& ui, UpdaterOutcome* outcome);
