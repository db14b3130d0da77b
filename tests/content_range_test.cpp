// The Content-Range of a partial answer: read whole or refused, and taken as the rest of a file only
// when it is exactly that rest.
#include <gtest/gtest.h>

#include "network/content_range.h"

namespace {

TEST(ContentRange, ReadsOnlyTheCompleteFormWithAKnownTotal) {
    const struct {
        const char* text;
        bool read;
        ContentRange range;
    } cases[] = {
        {"bytes 100-199/200", true, {100, 199, 200}},
        {"  bytes\t0-0/1 ", true, {0, 0, 1}},
        {"bytes 0-999999999999999998/999999999999999999", true, {0, 999999999999999998, 999999999999999999}},
        {"bytes 100-/200", false, {}},
        {"bytes */200", false, {}},
        {"bytes 100-199/*", false, {}},
        {"bytes 100-199", false, {}},
        {"bytes=100-199/200", false, {}},
        {"Bytes 100-199/200", false, {}},
        {"bytes -100-199/200", false, {}},
        {"bytes +100-199/200", false, {}},
        {"bytes 200-100/300", false, {}},
        {"bytes 100-200/200", false, {}},
        {"bytes 100-199/200 extra", false, {}},
        {"bytes 100-199/200,300-399/400", false, {}},
        {"bytes 0-1/9999999999999999999", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        ContentRange range{-1, -1, -1};
        EXPECT_EQ(parseContentRange(c.text, &range), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(range.first, c.range.first) << c.text;
            EXPECT_EQ(range.last, c.range.last) << c.text;
            EXPECT_EQ(range.total, c.range.total) << c.text;
        } else {
            EXPECT_EQ(range.first, -1) << c.text;  // untouched
        }
    }
}

TEST(ContentRange, APartIsTheRestOnlyFromTheHeldBytesToTheLastWithItsLengthAndTotal) {
    const ContentRange rest{100, 199, 200};
    EXPECT_TRUE(rangeCompletesFile(rest, 100, 100, 0));
    EXPECT_TRUE(rangeCompletesFile(rest, 100, 100, 200));
    EXPECT_FALSE(rangeCompletesFile(rest, 100, 100, 300));   // another file's total
    EXPECT_FALSE(rangeCompletesFile(rest, 50, 100, 0));      // starts past the held bytes
    EXPECT_FALSE(rangeCompletesFile(rest, 150, 100, 0));     // starts inside them
    EXPECT_FALSE(rangeCompletesFile(rest, 100, 99, 0));      // body shorter than the range
    EXPECT_FALSE(rangeCompletesFile(rest, 100, 101, 0));     // body longer than the range
    EXPECT_FALSE(rangeCompletesFile({100, 149, 200}, 100, 50, 0));  // only part of the rest
    EXPECT_TRUE(rangeCompletesFile({0, 199, 200}, 0, 200, 200));    // a whole file as a 206
}

}  // namespace
