// Pointer geometry: strict inside tests, the close corner, the hover scan (disabled buttons, a held
// button ending the scan) and the button a release lands on.
#include <gtest/gtest.h>

#include "ui/hit_test.h"

namespace {

const HitBox kSkinBoxes[kButtonCount] = {
    {20, 349, 120, 448}, {335, 364, 429, 403}, {138, 364, 232, 403}, {237, 364, 331, 403}};

TEST(InsideBox, IsStrictOnAllFourSides) {
    const HitBox box{10, 20, 30, 40};
    struct Case {
        int x, y;
        bool inside;
    };
    const Case cases[] = {{11, 21, true},  {29, 39, true},  {20, 30, true},  {10, 30, false}, {30, 30, false},
                          {20, 20, false}, {20, 40, false}, {9, 30, false},  {31, 30, false}, {20, 41, false}};
    for (const Case& c : cases) EXPECT_EQ(isInsideBox(box, c.x, c.y), c.inside) << c.x << "," << c.y;
}

TEST(CloseCorner, IsRightOf580AndAbove70) {
    struct Case {
        int x, y;
        bool close;
    };
    const Case cases[] = {{600, 60, true}, {581, 69, true}, {580, 69, false}, {581, 70, false},
                          {648, 0, true},  {300, 10, false}, {640, 200, false}};
    for (const Case& c : cases) EXPECT_EQ(isInCloseCorner(c.x, c.y), c.close) << c.x << "," << c.y;
}

struct HoverCase {
    const char* name;
    int current[kButtonCount];
    int x, y;
    bool held;
    int planned[kButtonCount];
    bool over;
};

class HoverScan : public ::testing::TestWithParam<HoverCase> {};

TEST_P(HoverScan, PlansTheNewStates) {
    const HoverCase& c = GetParam();
    int planned[kButtonCount] = {-1, -1, -1, -1};
    EXPECT_EQ(planHoverStates(c.current, kSkinBoxes, c.x, c.y, c.held, planned), c.over);
    for (int i = 0; i < kButtonCount; ++i) EXPECT_EQ(planned[i], c.planned[i]) << "button " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Pointer, HoverScan,
    ::testing::Values(HoverCase{"HoverCancel", {0, 0, 0, 0}, 380, 380, false, {0, 1, 0, 0}, true},
                      HoverCase{"PressCancel", {0, 1, 0, 0}, 380, 380, true, {0, 2, 0, 0}, true},
                      HoverCase{"LeaveCancel", {0, 2, 1, 0}, 10, 10, false, {0, 0, 0, 0}, false},
                      HoverCase{"DisabledStartIgnored", {3, 0, 0, 0}, 70, 400, true, {3, 0, 0, 0}, false},
                      HoverCase{"DisabledStaysDisabled", {3, 3, 3, 3}, 380, 380, false, {3, 3, 3, 3}, false},
                      HoverCase{"HoverStart", {0, 0, 0, 0}, 70, 400, false, {1, 0, 0, 0}, true},
                      HoverCase{"PressStartLeavesLaterButtons", {0, 1, 2, 1}, 70, 400, true, {2, 1, 2, 1}, true},
                      HoverCase{"BorderIsOutside", {1, 0, 0, 0}, 20, 400, false, {0, 0, 0, 0}, false}),
    [](const ::testing::TestParamInfo<HoverCase>& info) { return std::string(info.param.name); });

TEST(HoverScan, OverlappingButtonsPressOnlyTheFirst) {
    const HitBox overlapping[kButtonCount] = {{0, 0, 10, 10}, {20, 20, 60, 60}, {30, 30, 70, 70}, {0, 0, 100, 100}};
    const int current[kButtonCount] = {1, 0, 1, 1};
    int planned[kButtonCount];
    EXPECT_TRUE(planHoverStates(current, overlapping, 40, 40, true, planned));
    const int expected[kButtonCount] = {0, 2, 1, 1};
    for (int i = 0; i < kButtonCount; ++i) EXPECT_EQ(planned[i], expected[i]) << i;
    EXPECT_TRUE(planHoverStates(current, overlapping, 40, 40, false, planned));
    const int hovered[kButtonCount] = {0, 1, 1, 1};
    for (int i = 0; i < kButtonCount; ++i) EXPECT_EQ(planned[i], hovered[i]) << i;
}

TEST(ButtonAtPoint, FindsTheFirstEnabledButton) {
    struct Case {
        int states[kButtonCount];
        int x, y;
        int button;
    };
    const Case cases[] = {{{0, 0, 0, 0}, 70, 400, 0},  {{3, 0, 0, 0}, 70, 400, -1}, {{3, 0, 0, 0}, 380, 380, 1},
                          {{0, 0, 0, 0}, 180, 380, 2}, {{0, 0, 0, 0}, 300, 380, 3}, {{0, 0, 3, 0}, 180, 380, -1},
                          {{0, 0, 0, 0}, 335, 380, -1}, {{2, 2, 2, 2}, 600, 60, -1}};
    for (const Case& c : cases) EXPECT_EQ(buttonAtPoint(c.states, kSkinBoxes, c.x, c.y), c.button) << c.x << "," << c.y;
    const HitBox overlapping[kButtonCount] = {{0, 0, 1, 1}, {20, 20, 60, 60}, {30, 30, 70, 70}, {0, 0, 1, 1}};
    const int enabled[kButtonCount] = {0, 0, 0, 0};
    const int secondDisabled[kButtonCount] = {0, 3, 0, 0};
    EXPECT_EQ(buttonAtPoint(enabled, overlapping, 40, 40), 1);
    EXPECT_EQ(buttonAtPoint(secondDisabled, overlapping, 40, 40), 2);
}

}  // namespace
