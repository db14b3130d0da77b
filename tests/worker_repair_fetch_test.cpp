// A damaged game file fetched whole: a payload that matches its listed hash but does not rebuild the
// listed file leaves the damaged file as it was, no work file beside it, and a failure on the status
// line, never the apply step's "Applying patch" as if the repair were still going on.
#include <gtest/gtest.h>

#include <string>

#include "app/launcher_state.h"
#include "support/worker_fixture.h"
#include "update/delta_step.h"
#include "verification/patch_crypto.h"

namespace {

class WorkerRepairFetch : public WorkerFixture {};

TEST_F(WorkerRepairFetch, APayloadThatDoesNotRebuildTheFileIsAFailureShown) {
    CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    const std::string payload = "served whole, but not a compressed frame of the listed file";
    writeWholeFile(served("game.dat.whole"), payload);
    const std::string damaged = "damaged bytes";
    writeWholeFile(local("game.dat"), damaged);

    DeltaEntry entry = {};
    entry.hasBase = false;
    ASSERT_TRUE(sha256OfBytes(payload.data(), payload.size(), entry.payloadSha256));
    entry.payloadSize = payload.size();
    const std::string right = "the listed bytes";
    ASSERT_TRUE(sha256OfBytes(right.data(), right.size(), entry.targetSha256));
    entry.targetSize = right.size();
    snprintf(entry.payloadPath, sizeof entry.payloadPath, "Player/%s", name("game.dat.whole").c_str());
    snprintf(entry.targetPath, sizeof entry.targetPath, "%s", name("game.dat").c_str());

    gState.buttonState[0] = 3;  // as during every worker run
    EXPECT_NE(bringWholeFileInPlace(entry), DeltaStepOutcome::Applied);
    std::string expectedStatus = "Downloading failed - verify (" + name("game.dat") + ")";
    EXPECT_EQ(std::string(gState.statusText), expectedStatus);
    EXPECT_EQ(gState.buttonState[0], 3);
    EXPECT_TRUE(readWholeFile(local("game.dat")) == damaged);
    for (const char* leftover : {".vyr-delta", ".vyr-part", ".vyr-delta.download", ".vyr-delta.download.validator"})
        EXPECT_FALSE(exists(local(std::string("game.dat") + leftover))) << leftover;
}

}  // namespace
