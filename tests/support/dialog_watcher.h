// Test helper: answers the message boxes a code path under test opens on its own thread, and
// records their texts and owners, so that a test can check what the player would have read.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

struct SeenDialog {
    std::string title;
    std::string text;
    HWND owner;
};

class DialogWatcher {
public:
    DialogWatcher() : thread_([this] { run(); }) {}
    ~DialogWatcher() {
        stop_ = true;
        thread_.join();
    }
    std::vector<SeenDialog> seen() {
        std::vector<SeenDialog> copy;
        EnterCriticalSection(&lock_);
        copy = seen_;
        LeaveCriticalSection(&lock_);
        return copy;
    }

private:
    static BOOL CALLBACK visit(HWND window, LPARAM self) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        char className[64] = {};
        GetClassNameA(window, className, sizeof className);
        if (processId == GetCurrentProcessId() && IsWindowVisible(window) && strcmp(className, "#32770") == 0) {
            reinterpret_cast<DialogWatcher*>(self)->answer(window);
        }
        return TRUE;
    }

    void answer(HWND dialog) {
        for (HWND done : answered_) {
            if (done == dialog) return;
        }
        answered_.push_back(dialog);
        char title[256] = {};
        char text[1024] = {};
        GetWindowTextA(dialog, title, sizeof title);
        GetDlgItemTextA(dialog, 0xFFFF, text, sizeof text);  // the message box's static text
        EnterCriticalSection(&lock_);
        seen_.push_back(SeenDialog{title, text, GetWindow(dialog, GW_OWNER)});
        LeaveCriticalSection(&lock_);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }

    void run() {
        while (!stop_) {
            EnumWindows(visit, reinterpret_cast<LPARAM>(this));
            Sleep(100);
        }
    }

    struct Lock {
        Lock(CRITICAL_SECTION* section) { InitializeCriticalSection(section); }
    };
    CRITICAL_SECTION lock_;
    Lock lockInit_{&lock_};
    std::atomic<bool> stop_{false};
    std::vector<SeenDialog> seen_;
    std::vector<HWND> answered_;  // only the watcher thread touches it
    std::thread thread_;
};
