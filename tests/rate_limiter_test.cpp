// The download pacing against a clock the test owns, and the per-user file's text, which must never
// read a cut or damaged file as a choice nobody made.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "network/rate_limiter.h"
#include "settings/speed_limit_text.h"

namespace {

struct Reader {
    RateLimiter limiter;
    unsigned long long nowMs = 1000;
    unsigned long long waitedMs = 0;

    Reader() { resetRateLimiter(&limiter); }

    // Seconds to read `total` bytes in chunks that each take `readMs` on the wire, waiting as asked.
    double read(long long rate, long long total, long long chunk = 65536, unsigned long long readMs = 0) {
        unsigned long long start = nowMs;
        for (; total > 0; total -= chunk) {
            nowMs += readMs;
            unsigned long long wait = rateLimiterDelayMs(&limiter, rate, nowMs, total < chunk ? total : chunk);
            waitedMs += wait;
            nowMs += wait;
        }
        return static_cast<double>(nowMs - start) / 1000.0;
    }
};

// Every choice holds over 100 MB, and so does a rate that is no multiple of 1000 read in small pieces
// (no fraction of a byte lost per read); a stall buys at most a quarter second of burst; a server slower
// than the limit is not slowed further.
TEST(RateLimiter, EveryRateHoldsAndAStallBuysNoBurst) {
    for (const SpeedChoice& choice : kSpeedChoices) {
        if (choice.bytesPerSecond == 0) continue;
        Reader reader;
        double expected = 100.0 * kBytesPerMegabyte / choice.bytesPerSecond;
        EXPECT_NEAR(reader.read(choice.bytesPerSecond, 100 * kBytesPerMegabyte), expected, expected * 0.01)
            << choice.label;
    }
    Reader odd;
    EXPECT_NEAR(odd.read(1999, 19990, 7), 10.0, 0.1);

    const long long kRate = 4 * kBytesPerMegabyte;
    Reader stalled;
    stalled.read(kRate, kRate);
    stalled.nowMs += 30000;
    double took = stalled.read(kRate, 2 * kRate);
    EXPECT_GE(took, 1.75 - 0.02);
    EXPECT_LE(took, 2.0);

    Reader slow;
    slow.read(kBytesPerMegabyte, 10 * 65536, 65536, 100);  // 655 KB/s on the wire
    EXPECT_LT(slow.waitedMs, 100u);                       // the first chunk at most, which starts the bucket
}

// A change applies from the next read; unlimited never waits and saves up no credit for later.
TEST(RateLimiter, AChangedRateAppliesAtOnceAndUnlimitedNeverWaits) {
    Reader reader;
    reader.read(kBytesPerMegabyte, 2 * kBytesPerMegabyte);
    EXPECT_NEAR(reader.read(5 * kBytesPerMegabyte, 10 * kBytesPerMegabyte), 2.0, 0.04);
    EXPECT_NEAR(reader.read(kBytesPerMegabyte, 2 * kBytesPerMegabyte), 2.0, 0.04);
    reader.waitedMs = 0;
    EXPECT_EQ(reader.read(kUnlimitedRate, 500 * kBytesPerMegabyte), 0.0);
    EXPECT_EQ(reader.waitedMs, 0u);
    reader.nowMs += 60000;
    EXPECT_GE(reader.read(2 * kBytesPerMegabyte, 2 * kBytesPerMegabyte), 0.98);
}

// A read waits for its whole size, so on a slow line reads must shrink until each is short enough for a
// pause to be seen within about a second; a fast line keeps whole buffers, and gets them back.
TEST(ReadSize, ASlowLineGetsShortReadsAndAFastOneWholeBuffers) {
    const unsigned kBuffer = 65536;
    const unsigned long long kSlowLine = 20000;  // bytes per second: a whole buffer would take 3 s
    unsigned size = kBuffer;
    for (int read = 0; read < 10; ++read) size = nextReadSize(size, size * 1000ull / kSlowLine, kBuffer);
    EXPECT_LE(size * 1000ull / kSlowLine, 250u);
    EXPECT_GE(size, 4096u);
    for (int read = 0; read < 10; ++read) size = nextReadSize(size, 1, kBuffer);
    EXPECT_EQ(size, kBuffer);
    EXPECT_EQ(nextReadSize(kBuffer, 0, kBuffer), kBuffer);
    EXPECT_EQ(nextReadSize(0, 0, kBuffer), 4096u);  // where every transfer starts
    EXPECT_EQ(nextReadSize(2048, 1000, 2048), 2048u);  // never past a buffer smaller than the smallest read
}

TEST(SpeedLimitText, EveryChoiceReadsBackAndNothingElseIsAChoice) {
    for (const SpeedChoice& choice : kSpeedChoices) {
        SCOPED_TRACE(choice.label);
        char text[kSpeedLimitTextSize];
        ASSERT_TRUE(formatSpeedLimitText(choice.bytesPerSecond, text, sizeof text));
        std::string line = text;
        EXPECT_EQ(parseSpeedLimitText(line.data(), line.size()), choice.bytesPerSecond);
        // Cut anywhere, even inside the number where a shorter choice hides, it reads as unlimited.
        for (size_t cut = 0; cut < line.size(); ++cut) EXPECT_EQ(parseSpeedLimitText(line.data(), cut), 0) << cut;
        std::string crlf = line.substr(0, line.size() - 1) + "\r\n";
        EXPECT_EQ(parseSpeedLimitText(crlf.data(), crlf.size()), choice.bytesPerSecond);
        std::string trailing = line + "x";
        EXPECT_EQ(parseSpeedLimitText(trailing.data(), trailing.size()), 0);
    }
    const char* const kDamaged[] = {
        "download_limit_bytes_per_second=3000000\n",  // no choice of ours
        "download_limit_bytes_per_second=1\n",        // would all but stop every download
        "download_limit_bytes_per_second=-5000000\n",
        "download_limit_bytes_per_second= 5000000\n",
        "download_limit_bytes_per_second=99999999999999999999\n",
        "DOWNLOAD_LIMIT_BYTES_PER_SECOND=5000000\n",
    };
    for (const char* text : kDamaged) EXPECT_EQ(parseSpeedLimitText(text, strlen(text)), 0) << text;
    char text[kSpeedLimitTextSize];
    EXPECT_FALSE(formatSpeedLimitText(3 * kBytesPerMegabyte, text, sizeof text));
    EXPECT_FALSE(formatSpeedLimitText(5 * kBytesPerMegabyte, text, 8));
}

}  // namespace
