// A patch file's retries and resumption against the local HTTPS patch server's fault modes: the part
// held on disk and the validator beside it always describe the same server file, survive failures
// that never reached the server's answer, are dropped when a partial answer is not the whole rest, and
// a transfer that made progress is tried again however long it ran.
#include <gtest/gtest.h>

#include <process.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "app/launcher_state.h"
#include "support/temp_folder.h"
#include "support/worker_fixture.h"
#include "update/patch_download.h"

namespace {

const size_t kBodySize = 300000;
const size_t kHeld = 100000;

std::string patterned(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

class WorkerRetry : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    }

    std::string serve(const std::string& leaf, const std::string& content, const std::string& fault) {
        std::string path = served(leaf);
        writeWholeFile(path, content);
        setFault(leaf, fault);
        return path;
    }
    void setFault(const std::string& leaf, const std::string& fault) {
        std::string sidecar = served(leaf) + ".fault";
        if (fault.empty()) {
            DeleteFileA(sidecar.c_str());
        } else {
            writeWholeFile(sidecar, fault + "\n");
        }
    }
    void leavePart(const std::string& leaf, const std::string& part, const std::string& validator) {
        writeWholeFile(local(leaf + ".download"), part);
        writeWholeFile(local(leaf + ".download.validator"), validator);
    }
    std::string partOf(const std::string& leaf) const { return readWholeFile(local(leaf + ".download")); }
    std::string validatorOf(const std::string& leaf) const {
        return exists(local(leaf + ".download.validator")) ? readWholeFile(local(leaf + ".download.validator"))
                                                            : "(none)";
    }
    static std::string status() { return gState.statusText; }
};

// A refused connection and a 5xx answer say nothing about the file: the part and its validator stay
// through every try, and once the server answers again the download resumes from them. The part here
// holds other bytes than the server's file under the right validator, so only a resumed download
// installs them.
TEST_F(WorkerRetry, APartSurvivesRefusedConnectionsAndServerErrorsAndIsResumedAfterwards) {
    const std::string body = patterned(kBodySize, 9);
    const std::string held(kHeld, 'p');
    const int port = atoi(getenv("VYR_TEST_PORT"));
    for (const char* blip : {"refused", "status503"}) {
        SCOPED_TRACE(blip);
        std::string leaf = std::string("blip-") + blip + ".bin";
        std::string path = serve(leaf, body, "etag");
        std::string etag = nginxStyleEtag(path);
        ASSERT_FALSE(etag.empty());
        leavePart(leaf, held, etag);
        writeWholeFile(local(leaf), "old");

        bool refused = std::string(blip) == "refused";
        char base[kSettingTextSize];
        snprintf(base, sizeof base, "https://127.0.0.1:%d/Setup/live/StandaloneWindows64", refused ? 1 : port);
        setBaseUrl(base);
        if (!refused) setFault(leaf, "etag status503");
        EXPECT_EQ(downloadPatchFile(name(leaf).c_str(), "/Player/"), 0);
        EXPECT_EQ(status(), std::string(refused ? "Downloading failed - open (" : "Downloading failed [503] (") +
                                name(leaf) + ")");
        EXPECT_EQ(gState.buttonState[0], 3);
        EXPECT_TRUE(readWholeFile(local(leaf)) == "old");
        EXPECT_TRUE(partOf(leaf) == held);
        EXPECT_EQ(validatorOf(leaf), etag);

        setBaseUrl(savedBase);
        setFault(leaf, "etag");
        ASSERT_EQ(downloadPatchFile(name(leaf).c_str(), "/Player/"), 1) << status();
        EXPECT_TRUE(readWholeFile(local(leaf)) == held + body.substr(kHeld));
        EXPECT_FALSE(exists(local(leaf + ".download")));
        EXPECT_FALSE(exists(local(leaf + ".download.validator")));
    }
}

// A 206 that covers only half of what was asked is never taken for the rest: neither appended to the
// held part nor, for a fresh request, installed as the file. Every try gets such an answer, so the
// download ends on its last try with the failure on the status line and Start disabled.
TEST_F(WorkerRetry, APartialAnswerShortOfTheFileIsNeverInstalledAndTheLastTrySaysSo) {
    const std::string body = patterned(kBodySize, 7);
    std::string path = serve("short.bin", body, "short206");
    leavePart("short.bin", body.substr(0, kHeld), nginxStyleEtag(path));
    writeWholeFile(local("short.bin"), "old");
    gState.buttonState[0] = 0;
    EXPECT_EQ(downloadPatchFile(name("short.bin").c_str(), "/Player/"), 0);
    EXPECT_EQ(status(), "Downloading failed - read (" + name("short.bin") + ")");
    EXPECT_EQ(gState.buttonState[0], 3);
    EXPECT_TRUE(readWholeFile(local("short.bin")) == "old");
    EXPECT_FALSE(exists(local("short.bin.download")));
    EXPECT_FALSE(exists(local("short.bin.download.validator")));
}

// A part of a file the server has replaced since: the 200 to If-Range starts it over, and from the new
// body's first byte the validator beside it names the new file, so a kill at any moment of the body
// can never leave the old file's validator with the new file's bytes (which a server still holding
// the old file would then extend).
TEST_F(WorkerRetry, WhenThePartStartsOverItsValidatorNamesTheNewFileBeforeItsBytesArrive) {
    const std::string body = patterned(kBodySize, 5);
    std::string path = serve("replaced.bin", body, "etag slow");
    const std::string etag = nginxStyleEtag(path);
    const std::string oldValidator = "\"old-file-validator\"";
    leavePart("replaced.bin", patterned(kHeld, 4), oldValidator);

    Download d;
    d.name = name("replaced.bin");
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, runDownload, &d, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    int samples = 0;
    while (WaitForSingleObject(thread, 20) == WAIT_TIMEOUT) {
        WIN32_FILE_ATTRIBUTE_DATA part;
        if (!GetFileAttributesExA(local("replaced.bin.download").c_str(), GetFileExInfoStandard, &part)) continue;
        if (part.nFileSizeLow == 0 || part.nFileSizeLow >= kHeld) continue;  // new bytes, not yet past the old
        std::string validator = validatorOf("replaced.bin");
        EXPECT_NE(validator, oldValidator);
        EXPECT_TRUE(validator == etag || validator == "(none)") << validator;
        ++samples;
    }
    CloseHandle(thread);
    EXPECT_GT(samples, 0);
    EXPECT_EQ(d.result.load(), 1) << status();
    EXPECT_TRUE(readWholeFile(local("replaced.bin")) == body);
}

// A transfer that has brought bytes for longer than the retry window and then drops is tried again;
// the window counts time without progress, not time since the download began.
TEST_F(WorkerRetry, ALongTransferThatDropsIsTriedAgain) {
    const std::string body = patterned(kBodySize, 3);
    serve("long.bin", body, "slow:42 drop-half");
    Download d;
    d.name = name("long.bin");
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, runDownload, &d, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    // The first request is under way once its part holds bytes; the next one is served whole.
    bool cleared = false;
    while (WaitForSingleObject(thread, 50) == WAIT_TIMEOUT) {
        WIN32_FILE_ATTRIBUTE_DATA part;
        if (!cleared && GetFileAttributesExA(local("long.bin.download").c_str(), GetFileExInfoStandard, &part) &&
            part.nFileSizeLow > 0) {
            setFault("long.bin", "");
            cleared = true;
        }
    }
    CloseHandle(thread);
    EXPECT_TRUE(cleared);
    EXPECT_EQ(d.result.load(), 1) << status();
    EXPECT_TRUE(readWholeFile(local("long.bin")) == body);
}

}  // namespace
