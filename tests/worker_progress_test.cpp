// Progress values of the update worker stay within 0..100 for any announced size, and the archive
// rule matches names ending in zip in any case.
#include <gtest/gtest.h>

#include <climits>

#include "update/patch_progress.h"

namespace {

struct FileProgressCase {
    long long received;
    long long fileSize;
    int previous;
    int expected;
};

TEST(WorkerProgress, FilePercentFollowsTheBodyAndStaysBounded) {
    const FileProgressCase cases[] = {
        {0, 1000, 0, 0},
        {500, 1000, 0, 50},
        {999, 1000, 0, 99},         // truncated, never rounded up to full
        {1000, 1000, 0, 100},
        {32768, 100000, 0, 32},
        {2000, 1000, 0, 100},       // body longer than Content-Length
        {500, 0, 0, 0},             // no size: unchanged
        {500, 0, 42, 42},
        {500, -7, 13, 13},          // negative size: unchanged
        {500, 0, 400, 100},         // a stale value out of range is brought back into range
        {500, 0, -5, 0},
        {LLONG_MAX / 2, INT_MAX, 0, 100},
        {1, INT_MAX, 0, 0},
    };
    for (const FileProgressCase& c : cases) {
        EXPECT_EQ(filePercent(c.received, c.fileSize, c.previous), c.expected)
            << c.received << " of " << c.fileSize;
    }
}

TEST(WorkerProgress, FilePercentNeverDecreasesWhileTheBodyGrows) {
    const long long size = 1234567;
    int last = 0;
    for (long long received = 0; received <= size; received += 32768) {
        int now = filePercent(received, size, last);
        EXPECT_GE(now, last);
        EXPECT_LE(now, 100);
        last = now;
    }
}

TEST(WorkerProgress, TotalPercentIsDoneOverCount) {
    struct Case {
        int done, total, expected;
    } cases[] = {{0, 3, 0}, {1, 3, 33}, {2, 3, 66}, {3, 3, 100}, {0, 0, 0}, {5, 0, 0},
                 {7, 5, 100}, {-1, 5, 0}, {1, -4, 0}, {INT_MAX, INT_MAX, 100}, {INT_MAX - 1, INT_MAX, 99}};
    for (const Case& c : cases) EXPECT_EQ(totalPercent(c.done, c.total), c.expected) << c.done << "/" << c.total;
}

TEST(WorkerProgress, ArchiveNamesEndInZipInAnyCase) {
    struct Case {
        const char* name;
        bool archive;
    } cases[] = {{"Patch.zip", true}, {"Patch.ZIP", true}, {"Patch.ZiP", true}, {"Patchzip", true},
                 {"d/p.zip", true},   {".zip", true},      {"zip", false},      {"Patch.zi", false},
                 {"Patch.zipx", false}, {"Patch.dat", false}, {"", false}};
    for (const Case& c : cases) EXPECT_EQ(isArchiveName(c.name), c.archive) << c.name;
}

}  // namespace
