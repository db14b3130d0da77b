// The download pacing against a clock the test owns: the rate holds over a long transfer for every
// offered choice, a stall buys no burst past a quarter second, a changed rate applies at once, and
// unlimited never waits. Also the per-user file's text, which must never read a cut file as a choice.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "network/rate_limiter.h"
#include "settings/speed_limit_text.h"

namespace {

struct Reader {
    RateLimiter limiter;
    unsigned long long nowMs = 1000;  // not zero: a clock far from its start must work as well
    unsigned long long waitedMs = 0;

    Reader() { resetRateLimiter(&limiter); }

    // Reads `total` bytes in chunks that each take `readMs` on the wire, waiting what the limiter asks;
    // answers the elapsed time.
    unsigned long long read(long long rate, long long total, long long chunk, unsigned long long readMs = 0) {
        unsigned long long start = nowMs;
        while (total > 0) {
            long long count = total < chunk ? total : chunk;
            nowMs += readMs;
            unsigned long long wait = rateLimiterDelayMs(&limiter, rate, nowMs, count);
            waitedMs += wait;
            nowMs += wait;
            total -= count;
        }
        return nowMs - start;
    }
};

double seconds(unsigned long long ms) { return static_cast<double>(ms) / 1000.0; }

TEST(RateLimiter, EveryChoiceHoldsItsRateOverALongTransfer) {
    const long long kTotal = 100 * kBytesPerMegabyte;
    for (const SpeedChoice& choice : kSpeedChoices) {
        if (choice.bytesPerSecond == 0) continue;
        SCOPED_TRACE(choice.label);
        Reader reader;
        double expected = static_cast<double>(kTotal) / static_cast<double>(choice.bytesPerSecond);
        double took = seconds(reader.read(choice.bytesPerSecond, kTotal, 65536));
        EXPECT_GE(took, expected * 0.99);
        EXPECT_LE(took, expected * 1.01);
    }
    // A rate that is no multiple of 1000 bytes, read in small pieces, loses no fraction on the way.
    Reader reader;
    const long long kMebibyte = 1 << 20;
    double took = seconds(reader.read(kMebibyte, 8 * kMebibyte, 1000));
    EXPECT_GE(took, 8.0 * 0.99);
    EXPECT_LE(took, 8.0 * 1.01);
}

TEST(RateLimiter, AStallBuysNoMoreThanAQuarterSecondOfBurst) {
    const long long kRate = 4 * kBytesPerMegabyte;
    Reader reader;
    reader.read(kRate, kRate, 65536);
    reader.nowMs += 30000;  // the server stalled for half a minute
    // Two seconds' worth after the stall: the saved-up credit is at most a quarter second of it.
    double took = seconds(reader.read(kRate, 2 * kRate, 65536));
    EXPECT_GE(took, 1.75 - 0.02);
    EXPECT_LE(took, 2.0);
    // A server slower than the limit is not waited for on top of its own slowness.
    Reader slow;
    slow.read(kBytesPerMegabyte, 10 * 65536, 65536, 100);  // 655 KB/s on the wire
    EXPECT_LT(slow.waitedMs, 100u);  // at most the first chunk, which starts the bucket
}

TEST(RateLimiter, AChangedRateAppliesAtOnceAndUnlimitedNeverWaits) {
    Reader reader;
    reader.read(kBytesPerMegabyte, 2 * kBytesPerMegabyte, 65536);
    double faster = seconds(reader.read(5 * kBytesPerMegabyte, 10 * kBytesPerMegabyte, 65536));
    EXPECT_GE(faster, 2.0 * 0.98);
    EXPECT_LE(faster, 2.0 * 1.02);
    double slower = seconds(reader.read(kBytesPerMegabyte, 2 * kBytesPerMegabyte, 65536));
    EXPECT_GE(slower, 2.0 * 0.98);
    EXPECT_LE(slower, 2.0 * 1.02);

    reader.waitedMs = 0;
    EXPECT_EQ(reader.read(kUnlimitedRate, 500 * kBytesPerMegabyte, 65536), 0u);
    EXPECT_EQ(reader.waitedMs, 0u);
    // Limited again after a long unlimited spell: no credit was saved up meanwhile.
    reader.nowMs += 60000;
    double again = seconds(reader.read(2 * kBytesPerMegabyte, 2 * kBytesPerMegabyte, 65536));
    EXPECT_GE(again, 1.0 * 0.98);
}

TEST(SpeedLimitText, EveryChoiceReadsBackAndNothingElseIsAChoice) {
    for (const SpeedChoice& choice : kSpeedChoices) {
        SCOPED_TRACE(choice.label);
        char text[kSpeedLimitTextSize];
        ASSERT_TRUE(formatSpeedLimitText(choice.bytesPerSecond, text, sizeof text));
        size_t length = strlen(text);
        EXPECT_EQ(parseSpeedLimitText(text, length), choice.bytesPerSecond);
        // A file cut anywhere, even inside the number where a shorter choice hides, reads as unlimited.
        for (size_t cut = 0; cut < length; ++cut) EXPECT_EQ(parseSpeedLimitText(text, cut), 0) << cut;
        std::string crlf(text, length - 1);
        crlf += "\r\n";
        EXPECT_EQ(parseSpeedLimitText(crlf.data(), crlf.size()), choice.bytesPerSecond);
        std::string trailing = std::string(text) + "x";
        EXPECT_EQ(parseSpeedLimitText(trailing.data(), trailing.size()), 0);
    }
    const char* const kDamaged[] = {
        "download_limit_bytes_per_second=3000000\n",   // no choice of ours
        "download_limit_bytes_per_second=1\n",         // would all but stop every download
        "download_limit_bytes_per_second=-5000000\n",
        "download_limit_bytes_per_second= 5000000\n",
        "download_limit_bytes_per_second=99999999999999999999\n",
        " download_limit_bytes_per_second=5000000\n",
        "DOWNLOAD_LIMIT_BYTES_PER_SECOND=5000000\n",
        "download_limit_bytes_per_second=5000000\n\n",
    };
    for (const char* text : kDamaged) EXPECT_EQ(parseSpeedLimitText(text, strlen(text)), 0) << text;
    char text[kSpeedLimitTextSize];
    EXPECT_FALSE(formatSpeedLimitText(3 * kBytesPerMegabyte, text, sizeof text));
    EXPECT_FALSE(formatSpeedLimitText(5 * kBytesPerMegabyte, text, 8));
}

}  // namespace
