// The error-code table of failed game starts: every listed code picks its text, others the generic one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launch/launch_errors.h"
#include "settings/launcher_settings.h"

TEST(LaunchErrors, ListedCodesPickTheirMessage) {
    const struct {
        unsigned long code;
        int index;
    } cases[] = {{1114, 1}, {1154, 1}, {1157, 1}, {5097, 1}, {5080, 1}, {2, 2},  {3, 2},   {11, 5}, {13, 5},
                 {31, 3},   {32, 4},   {33, 4},   {193, 5},  {5, 0},    {0, 0}, {4, 0}, {1155, 0}, {0xFFFFFFFFul, 0}};
    for (const auto& c : cases) EXPECT_EQ(launchFailureMessageIndex(c.code), c.index) << "code " << c.code;
}

TEST(LaunchErrors, ListedTextsAreShownUnformattedAndOthersCarryTheCode) {
    char text[512];
    formatLaunchFailure(193, text, sizeof text);
    EXPECT_STREQ(text, "The executable file or DirectX is corrupted. Please run a disk check and reinstall the program.");
    formatLaunchFailure(2, text, sizeof text);
    EXPECT_STREQ(text, "Executable file not found. Please reinstall the program.");
    formatLaunchFailure(5, text, sizeof text);
    EXPECT_STREQ(text, "Failed to run due to error code: 5. Please contact customer support.");
    // Codes above INT_MAX print as the signed value the system's HRESULT-style codes are known by.
    formatLaunchFailure(0x80070005ul, text, sizeof text);
    EXPECT_STREQ(text, "Failed to run due to error code: -2147024891. Please contact customer support.");
}

TEST(LaunchErrors, SmallBuffersAreNeverOverrun) {
    char text[16];
    memset(text, 'x', sizeof text);
    formatLaunchFailure(2, text, 10);
    EXPECT_EQ(std::string(text), "Executabl");
    EXPECT_EQ(text[10], 'x');
}
