// Pausing a patch file's download in the worker, more often than it has tries, each time as soon as
// the resumed request brought bytes: a pause is no failed try, the status line says "Paused" and never a failure or a retry, no byte
// arrives while paused, and the part is continued into the whole file.
#include <gtest/gtest.h>

#include <process.h>

#include <atomic>
#include <string>

#include "app/launcher_state.h"
#include "support/worker_fixture.h"
#include "update/patch_download.h"

namespace {

const int kPauses = 7;  // more than the worker's five tries
const DWORD kPausedWithinMs = 5000;

long long sizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return data.nFileSizeLow;
}

// Until the part holds more than `held` bytes or the download has ended.
void waitForBytesBeyond(const std::string& part, long long held, HANDLE thread) {
    while (sizeOf(part) <= held && WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {}
}

// Until the status line says "Paused"; any failure or retry it shows meanwhile goes to *bad.
bool waitPaused(std::string* bad) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < kPausedWithinMs; Sleep(10)) {
        std::string shown = gState.statusText;
        if (shown.find("failed") != std::string::npos || shown.find("retrying") != std::string::npos) *bad = shown;
        if (shown == "Paused") return true;
    }
    return false;
}

class WorkerPause : public WorkerFixture {
protected:
    void TearDown() override {
        InterlockedExchange(&gState.downloadPaused, 0);
        WorkerFixture::TearDown();
    }
};

TEST_F(WorkerPause, PausesAreNoTriesAndTheFileIsContinuedWhole) {
    CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    std::string body(400000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 13);
    writeWholeFile(served("paused.bin"), body);
    writeWholeFile(served("paused.bin") + ".fault", "etag slow:4\n");
    const std::string part = local("paused.bin.download");

    Download d;
    d.name = name("paused.bin");
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, runDownload, &d, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    std::string bad;
    long long held = 0;
    for (int pause = 0; pause < kPauses; ++pause) {
        waitForBytesBeyond(part, held, thread);
        InterlockedExchange(&gState.downloadPaused, 1);
        ASSERT_TRUE(waitPaused(&bad)) << "pause " << pause << ": " << gState.statusText;
        EXPECT_GE(sizeOf(part), held) << "the part shrank: pause " << pause;
        held = sizeOf(part);
        Sleep(300);
        EXPECT_EQ(sizeOf(part), held) << "bytes arrived while paused";
        InterlockedExchange(&gState.downloadPaused, 0);
    }
    EXPECT_GT(held, 0);
    EXPECT_LT(held, static_cast<long long>(body.size()));
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    EXPECT_EQ(bad, "");
    EXPECT_EQ(d.result.load(), 1) << gState.statusText;
    EXPECT_TRUE(readWholeFile(local("paused.bin")) == body);
}

// Closing the launcher while a download is paused: the worker gives the file up at once, shows no
// failure, and the part stays as it was for the next start, instead of asking the server again and
// again while the window goes away.
TEST_F(WorkerPause, QuittingWhilePausedEndsTheDownloadAndKeepsThePart) {
    CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    std::string body(400000, 'q');
    writeWholeFile(served("quit.bin"), body);
    writeWholeFile(served("quit.bin") + ".fault", "etag slow:4\n");
    const std::string part = local("quit.bin.download");

    Download d;
    d.name = name("quit.bin");
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, runDownload, &d, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    waitForBytesBeyond(part, 0, thread);
    InterlockedExchange(&gState.downloadPaused, 1);
    std::string bad;
    bool paused = waitPaused(&bad);
    long long held = sizeOf(part);
    gState.quitRequested = 1;
    bool ended = WaitForSingleObject(thread, kPausedWithinMs) == WAIT_OBJECT_0;
    if (!ended) {
        // Let the stuck download finish so that the thread is gone before `d` is.
        gState.quitRequested = 0;
        InterlockedExchange(&gState.downloadPaused, 0);
        WaitForSingleObject(thread, 30000);
    }
    CloseHandle(thread);
    gState.quitRequested = 0;
    ASSERT_TRUE(paused) << gState.statusText;
    EXPECT_TRUE(ended) << "the worker went on after the quit";
    EXPECT_EQ(d.result.load(), 0);
    EXPECT_EQ(bad, "");
    EXPECT_EQ(std::string(gState.statusText).find("failed"), std::string::npos) << gState.statusText;
    EXPECT_GT(held, 0);
    EXPECT_EQ(sizeOf(part), held) << "the part changed after the quit";
    EXPECT_EQ(sizeOf(local("quit.bin")), -1);
}

}  // namespace
