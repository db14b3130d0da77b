// Scanning of the status-line style text and the position texts: the stop-at-first-mismatch rule,
// blanks, hexadecimal forms, signs, overflow and over-long face names.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "settings/layout_text.h"

namespace {

StatusStyle initialStyle() {
    StatusStyle style{200, 200, 0x00FFFFFF, "Fixedsys", 16};
    return style;
}

struct StyleCase {
    const char* name;
    std::string text;
    int conversions;
    int32_t x, y;
    uint32_t colour;
    std::string face;
    int32_t height;
};

class StyleScan : public ::testing::TestWithParam<StyleCase> {};

TEST_P(StyleScan, TakesFieldsUpToTheFirstMismatch) {
    const StyleCase& c = GetParam();
    StatusStyle style = initialStyle();
    EXPECT_EQ(scanStatusStyle(c.text.c_str(), &style), c.conversions);
    EXPECT_EQ(style.x, c.x);
    EXPECT_EQ(style.y, c.y);
    EXPECT_EQ(style.colour, c.colour);
    EXPECT_EQ(std::string(style.face), c.face);
    EXPECT_EQ(style.fontHeight, c.height);
}

const std::string k31(31, 'F');
const std::string k32(32, 'G');
const std::string k40(40, 'H');

INSTANTIATE_TEST_SUITE_P(
    Texts, StyleScan,
    ::testing::Values(
        StyleCase{"BuiltIn", "140 340 00FFFFFF 00212018 Arial 11", 6, 140, 340, 0x00FFFFFF, "Arial", 11},
        StyleCase{"FaceWithBlank", "140 340 00FFFFFF 00212018 Times New 11", 5, 140, 340, 0x00FFFFFF, "Times", 16},
        StyleCase{"OnlyPosition", "140 340", 2, 140, 340, 0x00FFFFFF, "Fixedsys", 16},
        StyleCase{"SecondColourNotHex", "10 20 00112233 zz Arial 11", 3, 10, 20, 0x00112233, "Fixedsys", 16},
        StyleCase{"SixDigitColour", "10 20 112233 0 Arial 11", 6, 10, 20, 0x00112233, "Arial", 11},
        StyleCase{"PrefixedColour", "10 20 0x00112233 0X5 Arial 11", 6, 10, 20, 0x00112233, "Arial", 11},
        StyleCase{"LowerCaseHex", "10 20 00aabbcc 0 Arial 11", 6, 10, 20, 0x00AABBCC, "Arial", 11},
        StyleCase{"TabsAndRuns", "\t 7 \n\n 8\t00000001   2 Tahoma\t\t9 tail", 6, 7, 8, 1, "Tahoma", 9},
        StyleCase{"Signs", "-5 +6 -1 0 Arial -12", 6, -5, 6, 0xFFFFFFFF, "Arial", -12},
        StyleCase{"Empty", "", 0, 200, 200, 0x00FFFFFF, "Fixedsys", 16},
        StyleCase{"OnlyBlanks", "   \t ", 0, 200, 200, 0x00FFFFFF, "Fixedsys", 16},
        StyleCase{"LetterFirst", "abc 1 2", 0, 200, 200, 0x00FFFFFF, "Fixedsys", 16},
        StyleCase{"DigitsThenLetters", "12abc 5", 1, 12, 200, 0x00FFFFFF, "Fixedsys", 16},
        StyleCase{"MissingHeight", "1 2 3 4 Verdana", 5, 1, 2, 3, "Verdana", 16},
        StyleCase{"FaceOf31Kept", "1 2 3 4 " + k31 + " 9", 6, 1, 2, 3, k31, 9},
        StyleCase{"FaceOf32Cut", "1 2 3 4 " + k32 + " 9", 6, 1, 2, 3, k32.substr(0, 31), 9},
        StyleCase{"FaceOf40Cut", "1 2 3 4 " + k40 + " 9", 6, 1, 2, 3, k40.substr(0, 31), 9},
        StyleCase{"DecimalOverflowClamps", "99999999999 -99999999999", 2, INT32_MAX, INT32_MIN, 0x00FFFFFF,
                  "Fixedsys", 16},
        StyleCase{"WideHexKeepsLowBits", "1 2 1FFFFFFFF", 3, 1, 2, 0xFFFFFFFF, "Fixedsys", 16}),
    [](const ::testing::TestParamInfo<StyleCase>& info) { return std::string(info.param.name); });

TEST(StyleScan, LongFaceNeverWritesPastTheField) {
    struct Guarded {
        StatusStyle style;
        char guard[16];
    } guarded;
    guarded.style = initialStyle();
    memset(guarded.guard, 0x5A, sizeof guarded.guard);
    std::string text = "1 2 3 4 " + std::string(500, 'W') + " 5";
    scanStatusStyle(text.c_str(), &guarded.style);
    EXPECT_EQ(strlen(guarded.style.face), sizeof guarded.style.face - 1);
    EXPECT_EQ(guarded.style.fontHeight, 5);
    for (char c : guarded.guard) EXPECT_EQ(c, 0x5A);
}

struct PositionCase {
    const char* name;
    const char* text;
    int conversions;
    int32_t x, y;
};

class PositionScan : public ::testing::TestWithParam<PositionCase> {};

TEST_P(PositionScan, TakesFieldsUpToTheFirstMismatch) {
    const PositionCase& c = GetParam();
    int32_t x = 0;
    int32_t y = 0;
    EXPECT_EQ(scanPosition(c.text, &x, &y), c.conversions);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PositionScan,
    ::testing::Values(PositionCase{"TwoBlanks", "20  349", 2, 20, 349},
                      PositionCase{"OneBlank", "335 364", 2, 335, 364},
                      PositionCase{"StartsWithLetter", "x20 349", 0, 0, 0},
                      PositionCase{"OnlyX", "141", 1, 141, 0},
                      PositionCase{"CommaStopsAfterX", "5,6", 1, 5, 0},
                      PositionCase{"SignsAndTail", "  -3\t+4 extra", 2, -3, 4},
                      PositionCase{"Empty", "", 0, 0, 0}),
    [](const ::testing::TestParamInfo<PositionCase>& info) { return std::string(info.param.name); });

}  // namespace
