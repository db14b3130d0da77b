// Resumed downloads against nginx (ETag, Range, If-Range as any static server or CDN gives them): the
// part a dropped transfer left in "<name>.download" is completed with a Range request, and a part of
// a file the server has replaced since is never spliced to the new file's tail.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>
#include <sstream>
#include <string>

#include "app/launcher_state.h"
#include "settings/launcher_settings.h"
#include "support/temp_folder.h"
#include "support/worker_fixture.h"
#include "update/patch_download.h"

namespace {

const std::string kAccessLog = std::string(VYR_NGINX_STATE_DIR) + "/access.log";
const long long kFileSize = 16ll << 20;

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

struct Served {
    int requests = 0;
    long long bytes = 0;
    std::string statuses;  // "206 " per request
    std::string ranges;
};

// What the access log says nginx sent for a path: <port> <conn> <n> "<request>" <status> <bytes> "<Range>" ...
Served servedFor(const std::string& path) {
    Served served;
    std::istringstream log(readWholeFile(kAccessLog));
    std::string line;
    while (std::getline(log, line)) {
        if (line.find(path) == std::string::npos) continue;
        size_t requestEnd = line.find('"', line.find('"') + 1);
        int status = 0;
        long long bytes = 0;
        if (sscanf(line.c_str() + requestEnd + 1, " %d %lld", &status, &bytes) != 2) continue;
        size_t rangeStart = line.find('"', requestEnd + 1);
        ++served.requests;
        served.bytes += bytes;
        served.statuses += std::to_string(status) + " ";
        served.ranges += line.substr(rangeStart + 1, line.find('"', rangeStart + 1) - rangeStart - 1) + " ";
    }
    return served;
}

class WorkerResume : public WorkerFixture {
protected:
    void SetUp() override {
        WorkerFixture::SetUp();
        useNginxPort(VYR_NGINX_PORT);
        CreateDirectoryA((kPlayerDir + prefix).c_str(), nullptr);
        CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    }

    // The state a transfer dropped at `at` bytes leaves behind: the part and the server's validator.
    void leavePartial(const std::string& name, const std::string& part, const std::string& validator) {
        writeWholeFile(folder.file(prefix + "\\" + name + ".download"), part);
        writeWholeFile(folder.file(prefix + "\\" + name + ".download.validator"), validator);
    }

};

TEST_F(WorkerResume, ADroppedTransferIsCompletedWithARangeRequest) {
    const std::string content = randomBytes(kFileSize, 1);
    const std::string served = kPlayerDir + prefix + "/big.bin";
    writeWholeFile(served, content);
    const long long dropAt = kFileSize * 6 / 10;
    leavePartial("big.bin", content.substr(0, dropAt), nginxStyleEtag(served));

    ASSERT_EQ(downloadPatchFile((prefix + "/big.bin").c_str(), "/Player/"), 1) << gState.statusText;
    EXPECT_TRUE(readWholeFile(folder.file(prefix + "\\big.bin")) == content);
    EXPECT_FALSE(exists(folder.file(prefix + "\\big.bin.download")));
    EXPECT_FALSE(exists(folder.file(prefix + "\\big.bin.download.validator")));
    Served log = servedFor(prefix + "/big.bin");
    EXPECT_EQ(log.statuses, "206 ");
    EXPECT_EQ(log.ranges, "bytes=" + std::to_string(dropAt) + "- ");
    EXPECT_EQ(log.bytes, kFileSize - dropAt);  // well under twice the file
}

TEST_F(WorkerResume, APartOfAReplacedServerFileIsDroppedAndTheNewFileFetchedWhole) {
    const std::string oldContent = randomBytes(kFileSize, 2);
    const std::string served = kPlayerDir + prefix + "/changed.bin";
    writeWholeFile(served, oldContent);
    std::string oldEtag = nginxStyleEtag(served);
    const std::string newContent = randomBytes(kFileSize + 4096, 3);
    writeWholeFile(served, newContent);
    ASSERT_NE(nginxStyleEtag(served), oldEtag);
    leavePartial("changed.bin", oldContent.substr(0, kFileSize / 2), oldEtag);

    ASSERT_EQ(downloadPatchFile((prefix + "/changed.bin").c_str(), "/Player/"), 1) << gState.statusText;
    EXPECT_TRUE(readWholeFile(folder.file(prefix + "\\changed.bin")) == newContent);
    Served log = servedFor(prefix + "/changed.bin");
    EXPECT_EQ(log.statuses, "200 ");  // If-Range did not match: the whole new file
    EXPECT_EQ(log.bytes, kFileSize + 4096);
}

}  // namespace
