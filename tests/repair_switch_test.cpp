// "/repair" is the launcher's: taken out of the text the game receives wherever it stands, in any case,
// while the game's own arguments, quoted text and longer words that merely begin with it stay as given.
#include <gtest/gtest.h>

#include <cstdio>

#include "repair/repair_switch.h"

namespace {

struct Case {
    const char* given;
    bool found;
    const char* left;
};

TEST(RepairSwitch, IsTakenOutAndTheGameKeepsEverythingElse) {
    const Case cases[] = {
        {"", false, ""},
        {"/repair", true, ""},
        {"/REPAIR -windowed", true, "-windowed"},
        {"-windowed /repair", true, "-windowed"},
        {"-a /Repair -b", true, "-a -b"},
        {"-a\t/repair\t-b /repair", true, "-a\t-b"},
        {"/repairs -a", false, "/repairs -a"},
        {"-name \"x /repair y\"", false, "-name \"x /repair y\""},
        {"-x/repair", false, "-x/repair"},
    };
    for (const Case& c : cases) {
        char line[128];
        snprintf(line, sizeof line, "%s", c.given);
        EXPECT_EQ(takeRepairSwitch(line), c.found) << c.given;
        EXPECT_STREQ(line, c.left) << c.given;
    }
}

}  // namespace
