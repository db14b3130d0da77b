// downloadToFile and queryRemoteSize against the local HTTPS patch server: every fault mode of the
// server, certificates that must be refused, cancelling, and local files that cannot be written.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_folder.h"
#include "network/http_transfer.h"

namespace {

int testPort() {
    const char* port = getenv("VYR_TEST_PORT");
    return port ? atoi(port) : 0;
}

std::string serverUrl(const std::string& object, int portOffset = 0, const char* host = "127.0.0.1") {
    return "https://" + std::string(host) + ":" + std::to_string(testPort() + portOffset) + object;
}

std::string windowsPath(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Files the tests serve live in www/net-test; a "<name>.fault" sidecar picks the server's fault mode.
std::string publish(const std::string& name, const std::string& content, const std::string& fault = "") {
    std::string folder = windowsPath(std::string(VYR_TEST_WWW_DIR) + "/net-test");
    CreateDirectoryA(windowsPath(VYR_TEST_WWW_DIR).c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    writeWholeFile(folder + "\\" + name, content);
    std::string sidecar = folder + "\\" + name + ".fault";
    if (fault.empty()) {
        DeleteFileA(sidecar.c_str());
    } else {
        writeWholeFile(sidecar, fault + "\n");
    }
    return serverUrl("/net-test/" + name + "?tick=1");
}

// Binary content that is not a multiple of the read size and holds NULs and line ends.
std::string patchBody(size_t size) {
    std::string body(size, '\0');
    unsigned value = 12345;
    for (char& c : body) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return body;
}

struct ProgressLog {
    std::vector<std::pair<int, int>> calls;
    size_t cancelOnCall = 0;  // 1-based; 0 never cancels
};
ProgressLog gProgress;

int recordProgress(int received, int expectedTotal) {
    gProgress.calls.emplace_back(received, expectedTotal);
    return gProgress.calls.size() == gProgress.cancelOnCall ? 1 : 0;
}

int download(const std::string& url, const std::string& localFile, size_t cancelOnCall = 0) {
    gProgress = ProgressLog{};
    gProgress.cancelOnCall = cancelOnCall;
    return downloadToFile(url.c_str(), localFile.c_str(), 1, nullptr, 0, recordProgress);
}

enum class Stored { Body, FirstHalf, Untouched };

struct FaultCase {
    const char* fault;
    int expectedResult;
    Stored stored;
    bool sizeKnownBeforeTheEnd;
};

// Only a body whose length was announced and met counts. One that ends when the connection closes is
// never whole, cut or not; neither is a chunked one, since WinINet ends it the same way when it breaks
// off inside a chunk. An error status is never the object, and its page is not stored.
TEST(Transfer, EachServerFaultModeGivesItsResultFileAndProgress) {
    const FaultCase cases[] = {
        {"", kTransferOk, Stored::Body, true},
        {"status206", kTransferOk, Stored::Body, true},
        {"slow", kTransferOk, Stored::Body, true},
        {"chunked", kTransferIncomplete, Stored::Body, false},
        {"no-length", kTransferIncomplete, Stored::Body, false},
        {"no-length drop-half", kTransferIncomplete, Stored::FirstHalf, false},
        {"chunked drop-half", kTransferIncomplete, Stored::FirstHalf, false},
        {"status404", kTransferBadStatus, Stored::Untouched, false},
        {"status503", kTransferBadStatus, Stored::Untouched, false},
        {"drop-half", kTransferIncomplete, Stored::FirstHalf, true},
    };
    TempFolder folder;
    const std::string body = patchBody(40000);
    for (const FaultCase& c : cases) {
        std::string name = std::string("mode-") + (*c.fault ? c.fault : "plain") + ".bin";
        for (char& ch : name) ch = ch == ' ' ? '_' : ch;
        std::string url = publish(name, body, c.fault);
        writeWholeFile(folder.file(name), "older content");
        EXPECT_EQ(download(url, name), c.expectedResult) << name;

        std::string stored = readWholeFile(folder.file(name));
        if (c.stored == Stored::Untouched) {
            EXPECT_EQ(stored, "older content") << name;
            EXPECT_TRUE(gProgress.calls.empty()) << name;
            continue;
        }
        if (c.stored == Stored::Body) {
            EXPECT_TRUE(stored == body) << name << ": " << stored.size() << " bytes";
        } else {
            EXPECT_GT(stored.size(), 0u) << name;
            EXPECT_LE(stored.size(), body.size() / 2) << name;
            EXPECT_TRUE(stored == body.substr(0, stored.size())) << name << ": " << stored.size() << " bytes";
        }

        ASSERT_FALSE(gProgress.calls.empty()) << name;
        int received = static_cast<int>(stored.size());
        const std::pair<int, int>& last = gProgress.calls.back();
        EXPECT_EQ(last.first, received) << name;
        if (c.expectedResult == kTransferOk) {
            EXPECT_EQ(last.second, received) << name;
        }
        for (size_t i = 0; i + 1 < gProgress.calls.size(); ++i) {
            EXPECT_EQ(gProgress.calls[i].second, c.sizeKnownBeforeTheEnd ? last.second : 0) << name << " call " << i;
            EXPECT_LT(gProgress.calls[i].first, gProgress.calls[i + 1].first + 1) << name << " call " << i;
        }
    }
}

TEST(Transfer, CancelOnTheFirstCallLeavesAnEmptyFile) {
    TempFolder folder;
    std::string url = publish("cancel-first.bin", patchBody(10000));
    writeWholeFile(folder.file("cancel-first.bin"), "older content");
    EXPECT_EQ(download(url, "cancel-first.bin", 1), kTransferCancelled);
    EXPECT_EQ(gProgress.calls.size(), 1u);
    DWORD attributes = GetFileAttributesA(folder.file("cancel-first.bin").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(readWholeFile(folder.file("cancel-first.bin")).empty());
}

TEST(Transfer, TheChunkWhoseCallbackCancelsIsNotWritten) {
    TempFolder folder;
    std::string body = patchBody(20000);
    std::string url = publish("cancel-third.bin", body);
    EXPECT_EQ(download(url, "cancel-third.bin", 3), kTransferCancelled);
    ASSERT_EQ(gProgress.calls.size(), 3u);
    std::string stored = readWholeFile(folder.file("cancel-third.bin"));
    EXPECT_EQ(static_cast<int>(stored.size()), gProgress.calls[1].first);
    EXPECT_TRUE(stored == body.substr(0, stored.size()));
}

struct RefusedCase {
    const char* name;
    std::string url;
    int expectedResult;
};

TEST(Transfer, UntrustedServersAndBadUrlsFailWithoutTouchingTheLocalFile) {
    TempFolder folder;
    publish("refused.bin", patchBody(5000));
    const RefusedCase cases[] = {
        {"certificate for another host", serverUrl("/net-test/refused.bin", 1), kTransferOpenFailed},
        {"expired certificate", serverUrl("/net-test/refused.bin", 2), kTransferOpenFailed},
        {"unknown authority", serverUrl("/net-test/refused.bin", 1, "localhost"), kTransferOpenFailed},
        {"nothing listening", "https://127.0.0.1:1/net-test/refused.bin", kTransferOpenFailed},
        {"no slash", "refused.bin", kTransferBadUrl},
        {"user information", serverUrl("/net-test/refused.bin", 0, "user@127.0.0.1"), kTransferBadUrl},
        {"bad port", "https://127.0.0.1:99999/net-test/refused.bin", kTransferBadUrl},
    };
    for (const RefusedCase& c : cases) {
        writeWholeFile(folder.file("refused.bin"), "older content");
        EXPECT_EQ(download(c.url, "refused.bin"), c.expectedResult) << c.name;
        EXPECT_EQ(readWholeFile(folder.file("refused.bin")), "older content") << c.name;
        EXPECT_TRUE(gProgress.calls.empty()) << c.name;
    }
}

TEST(Transfer, TheHostNameOfTheGoodCertificateIsAccepted) {
    TempFolder folder;
    std::string body = patchBody(3000);
    publish("by-name.bin", body);
    EXPECT_EQ(download(serverUrl("/net-test/by-name.bin", 0, "localhost"), "by-name.bin"), kTransferOk);
    EXPECT_TRUE(readWholeFile(folder.file("by-name.bin")) == body);
}

TEST(Transfer, ALocalFileThatCannotBeCreatedGivesThree) {
    TempFolder folder;
    std::string url = publish("local.bin", patchBody(3000));
    CreateDirectoryA(folder.file("a-folder").c_str(), nullptr);
    EXPECT_EQ(download(url, "missing-folder\\local.bin"), kTransferCreateFailed);
    EXPECT_EQ(download(url, "a-folder"), kTransferCreateFailed);
    EXPECT_TRUE(gProgress.calls.empty());
}

TEST(Transfer, ALargeBodyArrivesWhole) {
    TempFolder folder;
    std::string body = patchBody(3 * 1024 * 1024 + 17);
    std::string url = publish("large.bin", body);
    EXPECT_EQ(download(url, "large.bin"), kTransferOk);
    EXPECT_TRUE(readWholeFile(folder.file("large.bin")) == body);
}

TEST(RemoteSize, HeadGivesTheContentLengthOrLeavesTheSizeAlone) {
    publish("size.bin", patchBody(4321));
    publish("size-unknown.bin", patchBody(4321), "no-length");
    int size = -1;
    EXPECT_EQ(queryRemoteSize("127.0.0.1", testPort(), "/net-test/size.bin", 1, "downslib", 3000, &size), kSizeKnown);
    EXPECT_EQ(size, 4321);
    size = -1;
    EXPECT_EQ(queryRemoteSize("127.0.0.1", testPort(), "/net-test/size-unknown.bin", 1, "downslib", 3000, &size),
              kSizeUnknown);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(queryRemoteSize("127.0.0.1", testPort() + 2, "/net-test/size.bin", 1, "downslib", 3000, &size),
              kSizeUnknown);
    EXPECT_EQ(size, -1);
}

}  // namespace
