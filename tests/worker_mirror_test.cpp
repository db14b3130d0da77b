// Patch files from the manifest's mirrors: servers that failed are passed over for the rest of the run,
// and a part received before the switch continues on the next server only where the file's SHA-256 is
// checked at the end. (tests/e2e/test_mirrors.py covers 404s and bodies that do not match the index.)
#include <gtest/gtest.h>

#include <string>

#include "app/launcher_state.h"
#include "support/temp_folder.h"
#include "support/worker_fixture.h"
#include "update/patch_download.h"
#include "verification/patch_crypto.h"

namespace {

const size_t kBodySize = 300000;
const size_t kHeld = 100000;
// Nothing listens there: the connection is refused at once.
const char kDeadMirror[] = "https://127.0.0.1:1/dead/";

std::string patterned(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

class WorkerMirror : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
        const char* port = getenv("VYR_TEST_PORT");
        mirrorFolder = std::string(VYR_TEST_WWW_DIR) + "/mirror-" + prefix + "/";
        std::string mirror = std::string("https://127.0.0.1:") + (port ? port : "47443") + "/mirror-" + prefix + "/";
        snprintf(gState.mirrorUrls[0], kMirrorUrlSize, "%s", kDeadMirror);
        snprintf(gState.mirrorUrls[1], kMirrorUrlSize, "%s", mirror.c_str());
        gState.mirrorCount = 2;
        trustEveryPatchSource();
    }
    void TearDown() override {
        gState.mirrorCount = 0;
        trustEveryPatchSource();
        WorkerFixture::TearDown();
    }

    // On the mirror, with nginx's validators and ranges.
    std::string serveOnMirror(const std::string& leaf, const std::string& content) {
        std::string path = mirrorFolder + "Player/" + name(leaf);
        makeServerDirectories(path);
        writeWholeFile(path, content);
        writeWholeFile(path + ".fault", "etag\n");
        return path;
    }
    // On the base URL, answering 503: a failure that keeps the part held for it.
    std::string serveUnavailableOnBase(const std::string& leaf) {
        std::string path = kPlayerDir + name(leaf);
        makeServerDirectories(path);
        writeWholeFile(path, "unavailable");
        writeWholeFile(path + ".fault", "status503\n");
        return path;
    }
    void leavePart(const std::string& leaf, const std::string& part, const std::string& validator) {
        writeWholeFile(local(leaf + ".download"), part);
        writeWholeFile(local(leaf + ".download.validator"), validator);
    }
    // The test server's request log lines that name the path on the mirror.
    std::string mirrorLogLines(const std::string& leaf) const {
        std::string www = VYR_TEST_WWW_DIR;
        std::string log = readWholeFile(www.substr(0, www.rfind('/')) + "/patch_server.log");
        std::string path = "/mirror-" + prefix + "/Player/" + name(leaf) + " ", lines;
        for (size_t at = log.find(path); at != std::string::npos; at = log.find(path, at + 1))
            lines += log.substr(at, log.find('\n', at) - at) + "\n";
        return lines;
    }

    std::string mirrorFolder;
};

// The base answers 503 and keeps the part; the dead mirror refuses the connection. Without an index
// nothing but the server that sent a part can vouch for the rest of it, even when a
// mirror's copy carries the same validator (rsync keeps the modification time nginx builds it from):
// the part held here is not the file's start, so only a part that starts over installs the right bytes.
// The base and the dead mirror failed the first file, so the second comes from the mirror at once,
// although the base has a file of that name.
TEST_F(WorkerMirror, WithoutAnIndexAPartStartsOverOnTheNextServerAndFailedServersArePassedOver) {
    std::string content = patterned(kBodySize, 1);
    std::string onMirror = serveOnMirror("first.bin", content);
    std::string unavailable = serveUnavailableOnBase("first.bin");
    leavePart("first.bin", patterned(kHeld, 2), nginxStyleEtag(onMirror));
    ASSERT_EQ(downloadPatchFile(name("first.bin").c_str(), "/Player/"), 1) << gState.statusText;
    EXPECT_TRUE(readWholeFile(local("first.bin")) == content);
    EXPECT_FALSE(exists(local("first.bin.download")));
    EXPECT_FALSE(exists(local("first.bin.download.validator")));

    std::string second = patterned(kBodySize, 3);
    serveOnMirror("second.bin", second);
    std::string onBase = kPlayerDir + name("second.bin");
    makeServerDirectories(onBase);
    writeWholeFile(onBase, patterned(kBodySize, 4));
    ASSERT_EQ(downloadPatchFile(name("second.bin").c_str(), "/Player/"), 1) << gState.statusText;
    EXPECT_TRUE(readWholeFile(local("second.bin")) == second);
    DeleteFileA(onBase.c_str());
    DeleteFileA(unavailable.c_str());
    DeleteFileA((unavailable + ".fault").c_str());
}

// Where the file's SHA-256 is known the part goes on from the next server with a plain Range request:
// the validator it was kept with names the other server's copy, and If-Range with it would make the
// mirror send the whole file again.
TEST_F(WorkerMirror, WithTheFilesHashAPartContinuesOnTheNextServer) {
    std::string content = patterned(kBodySize, 5);
    serveOnMirror("payload.bin", content);
    std::string unavailable = serveUnavailableOnBase("payload.bin");
    leavePart("payload.bin", content.substr(0, kHeld), "\"base-copy\"");
    PatchIndexFile expected{};
    ASSERT_TRUE(sha256OfBytes(content.data(), content.size(), expected.sha256));
    expected.size = content.size();
    std::string serverPath = "Player/" + name("payload.bin");
    EXPECT_EQ(downloadVerifiedFile(serverPath.c_str(), local("payload.bin").c_str(), "payload.bin", expected),
              VerifiedFetch::Done)
        << gState.statusText;
    EXPECT_TRUE(readWholeFile(local("payload.bin")) == content);
    std::string lines = mirrorLogLines("payload.bin");
    EXPECT_NE(lines.find("\" 206 "), std::string::npos) << lines;
    EXPECT_EQ(lines.find("\" 200 "), std::string::npos) << lines;
    DeleteFileA(unavailable.c_str());
    DeleteFileA((unavailable + ".fault").c_str());
}

}  // namespace
