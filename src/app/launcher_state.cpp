// The launcher state record's storage and initial values, and the locked status-text hand-over.
#include "app/launcher_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "logging/support_log.h"
#include "settings/launcher_settings.h"

namespace {

CRITICAL_SECTION* statusLock() {
    // Initialised on first use so that the record stays plain static storage.
    static bool ready = [] {
        InitializeCriticalSection(&gState.statusLock);
        return true;
    }();
    (void)ready;
    return &gState.statusLock;
}

LauncherState makeInitialState() {
    LauncherState s{};
    s.buttonState[0] = 3;
    s.shownButtonState[0] = s.shownButtonState[1] = s.shownButtonState[2] = s.shownButtonState[3] = 1;
    s.shownFileProgress = 100;
    s.shownTotalProgress = 100;
    snprintf(s.statusText, sizeof s.statusText, "%s", "Initializing");
    s.osMajorVersion = 4;
    return s;
}

}  // namespace

LauncherState gState = makeInitialState();

void setStatusText(const char* text) {
    EnterCriticalSection(statusLock());
    snprintf(gState.statusText, sizeof gState.statusText, "%s", text);
    LeaveCriticalSection(statusLock());
}

void formatStatusText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    EnterCriticalSection(statusLock());
    vsnprintf(gState.statusText, sizeof gState.statusText, format, args);
    LeaveCriticalSection(statusLock());
    va_end(args);
}

bool takeStatusSnapshot() {
    EnterCriticalSection(statusLock());
    bool changed = strcmp(gState.statusText, gState.shownStatusText) != 0;
    if (changed) memcpy(gState.shownStatusText, gState.statusText, sizeof gState.shownStatusText);
    LeaveCriticalSection(statusLock());
    return changed;
}

void markFailureShown() {
    gState.buttonState[0] = 3;
    // The same failure said again at once (the start-up names an unreadable server twice, a retried
    // download fails alike) is one line: each attempt's own line already tells them apart.
    static char lastLogged[kStatusTextSize];
    char shown[kStatusTextSize];
    EnterCriticalSection(statusLock());
    bool repeated = strcmp(gState.statusText, lastLogged) == 0;
    memcpy(shown, gState.statusText, sizeof shown);
    memcpy(lastLogged, gState.statusText, sizeof lastLogged);
    LeaveCriticalSection(statusLock());
    if (repeated) return;
    LogEvent event = logEvent(kLogFailure);
    event.message = shown;
    writeLogEvent(event);
}

void showReadyState() {
    formatStatusText(settingText(SettingText::MsgReady), gState.localGameVersion);
    gState.fileProgress = 100;
    gState.totalProgress = 100;
    gState.buttonState[0] = 0;
}
