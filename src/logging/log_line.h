// One support-log line: when, which program, what was done, and the transfer's facts, as text that a
// player can send to support. Free of Windows headers so it builds natively and is fuzzed.
#pragma once
#include <cstddef>

// What an event is about; each is the word that starts the event in the line.
extern const char kLogManifest[];  // the version manifest
extern const char kLogIndex[];     // a signed list: the patch index, the delta list, the build list
extern const char kLogFile[];      // a patch file, or a file Updater downloads
extern const char kLogArchive[];   // unpacking an archive
extern const char kLogDelta[];     // a delta payload fetched or applied
extern const char kLogRepair[];    // a file checked or mended by a repair
extern const char kLogMirror[];    // a server of the patch files passed over for the rest of the run
extern const char kLogStep[];      // a launcher or Updater step (start, hand-off, version recorded)
extern const char kLogFailure[];   // a failure message shown to the player

enum {
    kLogLineSize = 1024,     // a whole line, its line end included
    kLogUrlFieldSize = 300,  // what may be logged of a URL
    kLogNameFieldSize = 200,
    kLogMessageFieldSize = 320,
};

// Local time of the event, as the system gives it.
struct LogTime {
    int year, month, day, hour, minute, second, millisecond;
};

// The facts of one event; a field left at its "none" value is not written.
struct LogEvent {
    const char* topic;    // one of the kLog* words
    const char* url;      // nullptr: none; reduced by reduceUrlForLog before it is written
    const char* name;     // the local file or step it concerns; nullptr: none
    int httpStatus;       // 0: none
    long long bytes;      // -1: none
    unsigned long error;  // Win32 or WinINet error code; 0: none
    const char* message;  // what the player was shown, or what happened; nullptr: none
};

// An event with only a topic: every other field at its "none" value.
LogEvent logEvent(const char* topic);

// What of a URL may go into a log: scheme, host, port and path. User information ("user:pass@"), the
// query and the fragment are dropped. Always terminates `out` (when outSize > 0); a longer result is cut.
void reduceUrlForLog(const char* url, char* out, size_t outSize);

// The event as one line ending in "\n": text fields cut to their bounds and every control character
// replaced, so no input can end the line early or forge another. Returns the line's length (never
// more than kLogLineSize - 1); outSize must be at least kLogLineSize.
size_t formatLogLine(const LogTime& time, const char* program, unsigned long processId, const LogEvent& event,
                     char* out, size_t outSize);
