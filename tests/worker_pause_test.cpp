// Pausing a patch file's download in the worker: however often the player pauses and resumes, even
// before a byte of the resumed answer arrived, a pause is no failed try, the status line never shows a
// failure or a retry, the part is kept and continued, and the file ends whole.
#include <gtest/gtest.h>

#include <process.h>

#include <atomic>
#include <string>

#include "app/launcher_state.h"
#include "support/worker_fixture.h"
#include "update/patch_download.h"

namespace {

const size_t kBodySize = 400000;
// More pauses than the worker has tries: were a pause counted as one, the download would fail.
const int kPauses = 7;
const DWORD kPausedWithinMs = 5000;

std::string patterned(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

struct Download {
    std::string name;
    std::atomic<int> result{-1};
};

unsigned __stdcall runDownload(void* context) {
    Download* d = static_cast<Download*>(context);
    d->result = downloadPatchFile(d->name.c_str(), "/Player/");
    return 0;
}

class WorkerPause : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
        InterlockedExchange(&gState.downloadPaused, 0);
    }
    void TearDown() override {
        InterlockedExchange(&gState.downloadPaused, 0);
        WorkerFixture::TearDown();
    }

    long long partSize(const std::string& leaf) const {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(local(leaf + ".download").c_str(), GetFileExInfoStandard, &data)) return -1;
        return data.nFileSizeLow;
    }

    // Polls the status line until it says "Paused", noting any failure or retry it shows meanwhile.
    bool waitPaused(std::string* badStatus) {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < kPausedWithinMs) {
            std::string shown = gState.statusText;
            if (shown.find("failed") != std::string::npos || shown.find("retrying") != std::string::npos)
                *badStatus = shown;
            if (shown == "Paused") return true;
            Sleep(10);
        }
        return false;
    }
};

TEST_F(WorkerPause, PausesAreNoTriesAndTheFileIsContinuedWhole) {
    const std::string body = patterned(kBodySize, 9);
    std::string path = served("paused.bin");
    writeWholeFile(path, body);
    writeWholeFile(path + ".fault", "etag slow:4\n");

    Download d;
    d.name = name("paused.bin");
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, runDownload, &d, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    while (partSize("paused.bin") <= 0 && WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {}
    std::string badStatus;
    long long held = 0;
    for (int pause = 0; pause < kPauses; ++pause) {
        InterlockedExchange(&gState.downloadPaused, 1);
        ASSERT_TRUE(waitPaused(&badStatus)) << "pause " << pause << ": " << gState.statusText;
        long long now = partSize("paused.bin");
        EXPECT_GE(now, held) << "the part shrank: pause " << pause;
        held = now;
        Sleep(300);
        EXPECT_EQ(partSize("paused.bin"), held) << "bytes arrived while paused";
        // Resumed and paused again at once, mostly before the resumed answer brings a byte.
        InterlockedExchange(&gState.downloadPaused, 0);
        Sleep(20);
    }
    EXPECT_GT(held, 0);
    EXPECT_LT(held, static_cast<long long>(kBodySize));
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    EXPECT_EQ(badStatus, "");
    EXPECT_EQ(d.result.load(), 1) << gState.statusText;
    EXPECT_TRUE(readWholeFile(local("paused.bin")) == body);
}

}  // namespace
