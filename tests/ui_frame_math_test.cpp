// The compositor's arithmetic: exact alpha scaling, the alpha pass, mask brightness, bar widths,
// picture slots and the redraw decision (an idle ready launcher must not recompose).
#include <gtest/gtest.h>

#include <vector>

#include "ui/frame_math.h"

namespace {

TEST(AlphaScaling, EqualsTruncatingDivisionForAllPairs) {
    int mismatches = 0;
    for (uint32_t x = 0; x < 256; ++x) {
        for (uint32_t a = 0; a < 256; ++a) {
            if (scaleByAlpha(x, a) != x * a / 255) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The pass packs channels into shared products: every colour value against every alpha, in every
// channel position, must still give the truncating division.
TEST(AlphaPass, EqualsTruncatingDivisionForAllPairsInEveryChannel) {
    std::vector<uint8_t> bgra(256 * 256 * 4);
    std::vector<uint8_t> alpha(256 * 256);
    for (uint32_t x = 0; x < 256; ++x) {
        for (uint32_t a = 0; a < 256; ++a) {
            size_t i = x * 256 + a;
            alpha[i] = static_cast<uint8_t>(a);
            bgra[4 * i] = static_cast<uint8_t>(x);
            bgra[4 * i + 1] = static_cast<uint8_t>(255 - x);
            bgra[4 * i + 2] = static_cast<uint8_t>(x ^ 0x5A);
        }
    }
    std::vector<uint8_t> expected(bgra);
    for (size_t i = 0; i < alpha.size(); ++i) {
        for (int c = 0; c < 3; ++c) expected[4 * i + c] = static_cast<uint8_t>(expected[4 * i + c] * alpha[i] / 255);
        expected[4 * i + 3] = alpha[i];
    }
    applyAlphaPass(bgra.data(), alpha.data(), alpha.size());
    EXPECT_TRUE(bgra == expected);
}

TEST(AlphaPass, SetsAlphaAndPremultipliesEachColourByte) {
    struct Pixel {
        uint8_t in[4];
        uint8_t alpha;
        uint8_t out[4];
    };
    const Pixel pixels[] = {
        {{10, 20, 30, 99}, 255, {10, 20, 30, 255}},
        {{10, 20, 30, 99}, 0, {0, 0, 0, 0}},
        {{255, 128, 1, 0}, 128, {128, 64, 0, 128}},
        {{200, 100, 50, 7}, 51, {40, 20, 10, 51}},
        {{255, 255, 255, 255}, 254, {254, 254, 254, 254}},
    };
    std::vector<uint8_t> bgra;
    std::vector<uint8_t> alpha;
    for (const Pixel& p : pixels) {
        bgra.insert(bgra.end(), p.in, p.in + 4);
        alpha.push_back(p.alpha);
    }
    applyAlphaPass(bgra.data(), alpha.data(), alpha.size());
    for (size_t i = 0; i < alpha.size(); ++i) {
        for (int b = 0; b < 4; ++b) EXPECT_EQ(bgra[4 * i + b], pixels[i].out[b]) << "pixel " << i << " byte " << b;
    }
}

TEST(MaskAlpha, IsTheTruncatedMeanOfTheColourBytes) {
    const uint8_t mask[] = {255, 255, 255, 0, 0, 0, 0, 255, 128, 128, 128, 0, 1, 1, 0, 0, 10, 20, 31, 0};
    uint8_t alpha[5] = {};
    alphaFromMask(mask, alpha, 5);
    const uint8_t expected[5] = {255, 0, 128, 0, 20};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(alpha[i], expected[i]) << i;
}

TEST(BarWidth, CutsTheImageByPercent) {
    struct Case {
        int width, progress, expected;
    };
    const Case cases[] = {{276, 50, 138}, {276, 0, 0},   {276, 100, 276}, {276, 33, 91},
                          {276, 1, 2},    {276, -5, 0},  {276, 150, 276}, {7, 99, 6}};
    for (const Case& c : cases) EXPECT_EQ(barWidth(c.width, c.progress), c.expected) << c.width << " " << c.progress;
}

TEST(ButtonSlot, PicksTheStatePictureOrTheBackground) {
    struct Case {
        int button, state, slot;
    };
    const Case cases[] = {{0, 0, 1}, {0, 1, 0},  {0, 2, 1},  {0, 3, 2},  {1, 0, -1}, {1, 1, 3},  {2, 3, 8},
                          {3, 0, -1}, {3, 2, 10}, {3, 3, 11}, {2, 4, -1}, {1, -1, -1}};
    for (const Case& c : cases) EXPECT_EQ(buttonSlot(c.button, c.state), c.slot) << c.button << "/" << c.state;
}

struct RedrawCase {
    const char* name;
    int live[4];
    int fileProgress, totalProgress;
    FrameValues shown;
    bool redraw;
};

class RedrawDecision : public ::testing::TestWithParam<RedrawCase> {};

TEST_P(RedrawDecision, ComparesWhatTheFrameWouldShow) {
    const RedrawCase& c = GetParam();
    FrameValues live = frameValuesOf(c.live, c.fileProgress, c.totalProgress);
    EXPECT_EQ(!sameFrameValues(live, c.shown), c.redraw);
}

INSTANTIATE_TEST_SUITE_P(
    States, RedrawDecision,
    ::testing::Values(
        RedrawCase{"FirstFrame", {3, 0, 0, 0}, 0, 0, {{1, 1, 1, 1}, 100, 100}, true},
        RedrawCase{"IdleReadyStartButton", {0, 0, 0, 0}, 100, 100, {{2, 0, 0, 0}, 100, 100}, false},
        RedrawCase{"PressedLooksLikeIdle", {2, 0, 0, 0}, 100, 100, {{2, 0, 0, 0}, 100, 100}, false},
        RedrawCase{"HoverAfterIdle", {1, 0, 0, 0}, 100, 100, {{2, 0, 0, 0}, 100, 100}, true},
        RedrawCase{"WorkerDisabledStart", {3, 0, 0, 0}, 100, 100, {{2, 0, 0, 0}, 100, 100}, true},
        RedrawCase{"CancelHover", {3, 1, 0, 0}, 0, 0, {{3, 0, 0, 0}, 0, 0}, true},
        RedrawCase{"FileProgress", {3, 0, 0, 0}, 41, 0, {{3, 0, 0, 0}, 40, 0}, true},
        RedrawCase{"TotalProgress", {3, 0, 0, 0}, 40, 9, {{3, 0, 0, 0}, 40, 8}, true},
        RedrawCase{"Unchanged", {3, 0, 2, 1}, 40, 8, {{3, 0, 2, 1}, 40, 8}, false}),
    [](const ::testing::TestParamInfo<RedrawCase>& info) { return std::string(info.param.name); });

TEST(FrameValues, RecordTheStartButtonsNormalStateAsItsPicture) {
    const int live[4] = {0, 0, 1, 2};
    FrameValues values = frameValuesOf(live, 7, 8);
    EXPECT_EQ(values.buttonState[0], 2);
    EXPECT_EQ(values.buttonState[2], 1);
    EXPECT_EQ(values.buttonState[3], 2);
    EXPECT_EQ(values.fileProgress, 7);
    EXPECT_EQ(values.totalProgress, 8);
}

}  // namespace
