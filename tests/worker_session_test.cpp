// The update worker's whole run against nginx: a server that closes the connection after every response
// is handled by reconnecting, and a connection made later in the run still has its certificate checked
// in full, after earlier files of the same run came from the trusted certificate.
#include <gtest/gtest.h>

#include <process.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "support/temp_folder.h"
#include "support/worker_fixture.h"
#include "update/update_worker.h"
#include "zip_test_archive.h"

namespace {

const std::string kNginxState = VYR_NGINX_STATE_DIR;
// See tools/nginx_server.sh: N+1 closes every connection, N+2 also presents the switchable certificate.
const int kClosingPort = VYR_NGINX_PORT + 1;
const int kSwitchingPort = VYR_NGINX_PORT + 2;

// Makes nginx's switchable port present certName (from the test certificates) from its next handshake.
bool presentCertificate(const std::string& certName) {
    const std::string certs = VYR_TEST_CERT_DIR;
    return CopyFileA((certs + "/" + certName + ".pem").c_str(), (kNginxState + "/switch.pem").c_str(), FALSE) &&
           CopyFileA((certs + "/" + certName + ".key").c_str(), (kNginxState + "/switch.key").c_str(), FALSE);
}

struct LoggedRequest {
    int port;
    long connection;
    std::string request;
};

// The nginx access log's requests whose request line mentions `marker`.
std::vector<LoggedRequest> loggedRequests(const std::string& marker) {
    std::vector<LoggedRequest> requests;
    std::istringstream log(readWholeFile(kNginxState + "/access.log"));
    std::string line;
    while (std::getline(log, line)) {
        size_t open = line.find('"');
        if (line.find(marker) == std::string::npos || open == std::string::npos) continue;
        LoggedRequest entry{};
        if (sscanf(line.c_str(), "%d %ld", &entry.port, &entry.connection) != 2) continue;
        entry.request = line.substr(open + 1, line.find('"', open + 1) - open - 1);
        requests.push_back(entry);
    }
    return requests;
}

class WorkerSession : public WorkerFixture {
protected:
    std::string serve(const std::string& leaf, size_t size, char fill) {
        std::string content(size, fill);
        writeWholeFile(served(leaf), content);
        return content;
    }

    // A step of files below the test's folder.
    void addLeaves(int version, const std::vector<std::string>& leaves) {
        std::vector<std::string> names;
        for (const std::string& leaf : leaves) names.push_back(name(leaf));
        addStep(version, names);
    }
};

// Every response closes its connection (the log shows one connection per request), so each file of the
// run needs a new connection; the files, the unpacked archive and the last version must all arrive.
TEST_F(WorkerSession, ServerClosingEveryConnectionIsReconnected) {
    std::string big = serve("Data/big.dat", 700000, 'b');
    std::string small = serve("small.txt", 10, 's');
    std::string other = serve("Data/other.dat", 150000, 'o');
    std::string archive = kPlayerDir + name("pack.zip");
    ASSERT_TRUE(writeZipArchive(archive, {{prefix + "/Maps/region.map", std::string(90000, 'r'), false}}));
    addLeaves(10006, {"Data/big.dat", "small.txt"});
    addLeaves(10007, {"pack.zip"});
    addLeaves(10008, {"Data/other.dat"});
    useNginxPort(kClosingPort);

    EXPECT_EQ(updateWorker(nullptr), 1u);
    EXPECT_EQ(std::string(gState.statusText), "Ready to start the game. [Version: 10008]");
    EXPECT_EQ(readWholeFile(local("Data\\big.dat")), big);
    EXPECT_EQ(readWholeFile(local("small.txt")), small);
    EXPECT_EQ(readWholeFile(local("Data\\other.dat")), other);
    EXPECT_EQ(readWholeFile(local("Maps\\region.map")), std::string(90000, 'r'));
    EXPECT_EQ(recordedVersion(), 10008);

    std::vector<LoggedRequest> requests = loggedRequests(prefix);
    std::set<long> connections;
    for (const LoggedRequest& r : requests) connections.insert(r.connection);
    EXPECT_GE(requests.size(), 4u);
    EXPECT_EQ(connections.size(), requests.size()) << "nginx kept a connection open: nothing was reconnected";
}

unsigned __stdcall runWorker(void* result) {
    *static_cast<std::atomic<unsigned>*>(result) = updateWorker(nullptr);
    return 0;
}

// Two files arrive through the trusted certificate; while the second (sent slowly) is in flight, the
// server switches to a certificate for another host name. The next file's connection must fail, never be
// requested, and the run must stop with the first step recorded and the second not.
TEST_F(WorkerSession, LaterConnectionOfTheRunWithAWrongHostCertificateFails) {
    ASSERT_TRUE(presentCertificate("server"));
    std::string first = serve("first.dat", 120000, 'f');
    std::string slow = serve("throttled/slow.dat", 300000, 's');
    serve("after.dat", 5000, 'a');
    addLeaves(10006, {"first.dat", "throttled/slow.dat"});
    addLeaves(10007, {"after.dat"});
    useNginxPort(kSwitchingPort);

    std::atomic<unsigned> result{99};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, runWorker, &result, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    const std::string slowStatus = "Downloading file (" + name("throttled/slow.dat") + ")";
    bool switched = false;
    while (WaitForSingleObject(thread, 5) == WAIT_TIMEOUT) {
        if (!switched && slowStatus == gState.statusText && gState.fileProgress > 0)
            switched = presentCertificate("wrong-host");
    }
    CloseHandle(thread);
    bool restored = presentCertificate("server");

    ASSERT_TRUE(switched) << "the slow file was never seen in flight";
    EXPECT_TRUE(restored);
    EXPECT_EQ(result.load(), 0u);
    EXPECT_EQ(std::string(gState.statusText), "Downloading failed - open (" + name("after.dat") + ")");
    EXPECT_EQ(readWholeFile(local("first.dat")), first);
    EXPECT_EQ(readWholeFile(local("throttled\\slow.dat")), slow);
    EXPECT_FALSE(exists(local("after.dat")));
    EXPECT_EQ(recordedVersion(), 10006);
    for (const LoggedRequest& r : loggedRequests(prefix))
        EXPECT_EQ(r.request.find("after.dat"), std::string::npos) << "requested over the wrong certificate";
}

}  // namespace
