// Which server-sent names may become paths below the launcher's folder: table of Windows path
// forms that must be refused or accepted, with the length limit and both separators.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "formats/path_check.h"

namespace {

struct PathCase {
    std::string name;
    bool safe;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << '"' << c.name << "\" -> " << (c.safe ? "safe" : "refused"); }

class PathCheckTable : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathCheckTable, DecidesLikeWindowsWouldResolve) {
    EXPECT_EQ(isSafeRelativePath(GetParam().name.c_str()), GetParam().safe) << "name: " << GetParam().name;
}

const PathCase kCases[] = {
    // Plain relative names, nested with either separator or both, and directory entries.
    {"Patch10002.zip", true},
    {"Data/Table.dat", true},
    {"Data\\Table.dat", true},
    {"d1/d2\\d3/name.bin", true},
    {"d1/", true},
    {"d1/d2/", true},
    {".hidden", true},
    {"a..b", true},
    {"..a/b", true},
    {"name with blank.txt", true},
    {"CONFIG.sys", true},
    {"console.txt", true},
    {"COM10.txt", true},
    {"Norvane.exe", true},
    // Parent references in every position and separator.
    {"..", false},
    {"../x", false},
    {"..\\x", false},
    {"a/../b", false},
    {"a\\..\\..\\b", false},
    {"a/..", false},
    {"a/..\\", false},
    {"a/.../b", false},
    {"a/.. /b", false},
    {"./x", false},
    {"a/./b", false},
    // Absolute, rooted, drive-relative, UNC and device forms.
    {"/etc/passwd", false},
    {"\\Windows\\x.dll", false},
    {"C:\\x", false},
    {"C:x", false},
    {"c:/x", false},
    {"\\\\server\\share\\x", false},
    {"//server/share/x", false},
    {"\\\\?\\C:\\x", false},
    {"\\\\.\\PhysicalDrive0", false},
    // Alternate data streams and other characters Windows refuses or expands.
    {"file.txt:stream", false},
    {"file.txt::$DATA", false},
    {"a*b", false},
    {"a?b", false},
    {"a<b", false},
    {"a|b", false},
    {"a\"b", false},
    {"a\tb", false},
    // Parts that Windows silently trims to another name.
    {"name.", false},
    {"name ", false},
    {"dir./x", false},
    // Reserved device names, any case, with or without extension, in any part.
    {"CON", false},
    {"nul", false},
    {"NUL.txt", false},
    {"dir/aux.dat", false},
    {"COM1", false},
    {"lpt9.log", false},
    {"CONOUT$", false},
    // Windows drops blanks and dots before the extension too, and takes superscript port digits
    // (in the western ANSI code page and in UTF-8).
    {"nul .dat", false},
    {"COM1 .bin", false},
    {"con .cfg", false},
    {"d/prn . .txt", false},
    {"aux..x", false},
    {"COM\xb9", false},
    {"lpt\xb2.log", false},
    {"COM\xc2\xb3.txt", false},
    {"nul_.dat", true},
    {"COM\xb9\xb9.txt", true},
    {"COM\xbc.txt", true},
    {"connect .cfg", true},
    // Empty names and doubled separators.
    {"", false},
    {"a//b", false},
    {"a\\\\b", false},
    {"a/\\b", false},
};

INSTANTIATE_TEST_SUITE_P(ServerNames, PathCheckTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PathCase>& info) {
                             return std::string(info.param.safe ? "Safe" : "Refused") + std::to_string(info.index);
                         });

TEST(PathCheck, LengthLimitIs255Characters) {
    const std::string longest(255, 'a');
    EXPECT_TRUE(isSafeRelativePath(longest.c_str()));
    EXPECT_FALSE(isSafeRelativePath((longest + "a").c_str()));
    const std::string nested = "d/" + std::string(253, 'b');
    EXPECT_TRUE(isSafeRelativePath(nested.c_str()));
    EXPECT_FALSE(isSafeRelativePath((nested + "b").c_str()));
    // A parent reference hidden past the limit must not pass through a cut.
    EXPECT_FALSE(isSafeRelativePath((std::string(254, 'c') + "/../x").c_str()));
}

TEST(PathCheck, NullIsRefused) { EXPECT_FALSE(isSafeRelativePath(nullptr)); }

// Swapping the separators never changes the decision: Windows treats both alike.
TEST(PathCheck, SeparatorsAreInterchangeable) {
    for (const PathCase& c : kCases) {
        std::string swapped = c.name;
        for (char& ch : swapped) ch = (ch == '/') ? '\\' : (ch == '\\' ? '/' : ch);
        EXPECT_EQ(isSafeRelativePath(swapped.c_str()), isSafeRelativePath(c.name.c_str())) << c.name;
    }
}

// Names flagged UTF-8 must be well formed, or an overlong form could stand for '/', '.' or '\\'.
TEST(PathCheck, Utf8MustBeWellFormed) {
    for (const char* valid : {"", "plain.txt", "\xd0\x90", "\xe4\xb8\x96\xe7\x95\x8c", "\xf0\x9f\x98\x80", "\xef\xbf\xbd"})
        EXPECT_TRUE(isValidUtf8(valid)) << valid;
    for (const char* invalid : {"\xc0\xae", "\xc1\xbf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                "\xf8\x88\x80\x80\x80", "\xd0", "\xe4\xb8", "\x80", "a\xff" "b"})
        EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
}

}  // namespace
