// Updater's command line as the launcher writes it: every form the hand-off produces reads back to the
// same fields, and anything else is refused before a byte is downloaded.
#include <gtest/gtest.h>

#include <string>

#include "formats/version_text.h"

namespace {

const char kBase[] = "https://127.0.0.1:49443/Setup/live/StandaloneWindows64";

TEST(UpdaterCommand, EveryHandOffTheLauncherFormatsReadsBack) {
    struct Case {
        HandOff kind;
        int processId;
        const char* version;
    };
    const Case cases[] = {{HandOff::Launcher, 1234, "0.0.0.6"}, {HandOff::Installer, 0, "1.0.0.4"},
                          {HandOff::Launcher, 2147483647, "1.0.1"}, {HandOff::Installer, 0, "7"}};
    for (const Case& c : cases) {
        char line[256];
        ASSERT_TRUE(formatUpdaterCommandLine(line, sizeof line, c.kind, c.processId, c.version, kBase));
        // As GetCommandLineA shows it: the name as given, or quoted with a full path.
        const std::string forms[] = {line, std::string("\"C:\\Program Files\\Norvane\\Updater.exe\"") + (line + 7),
                                     std::string(line + 8)};
        for (const std::string& form : forms) {
            UpdaterCommand command;
            ASSERT_TRUE(parseUpdaterCommandLine(form.c_str(), &command)) << form;
            EXPECT_EQ(command.kind, c.kind) << form;
            EXPECT_EQ(command.processId, static_cast<uint32_t>(c.processId)) << form;
            EXPECT_STREQ(command.version, c.version) << form;
            EXPECT_STREQ(command.baseUrl, kBase) << form;
        }
    }
}

TEST(UpdaterCommand, RefusesWhatTheLauncherNeverWrites) {
    const std::string base = kBase;
    const std::string refused[] = {
        "",
        "Updater",
        "Updater Patch 1 0.0.0.6 " + base,                  // wrong word
        "Updater launcher 1 0.0.0.6 " + base,               // words are case-sensitive
        "Updater Updater Launcher 1 0.0.0.6 " + base,       // only one program name
        "Updater Launcher 0.0.0.6 " + base,                 // missing process id
        "Updater Launcher 12a 0.0.0.6 " + base,             // non-numeric process id
        "Updater Launcher -1 0.0.0.6 " + base,
        "Updater Launcher 4294967296 0.0.0.6 " + base,      // beyond a process id
        "Updater Launcher 1 " + base,                       // missing version
        "Updater Launcher 1 0.0.0.6",                       // missing base URL
        "Updater Launcher 1 0.0.0.6a " + base,              // version: digits and dots only
        "Updater Launcher 1 0..6 " + base,
        "Updater Launcher 1 .6 " + base,
        "Updater Launcher 1 6. " + base,
        "Updater Launcher 1 1.2.3.4.5 " + base,
        "Updater Launcher 1 1234567890.0.0.0 " + base,
        "Updater Installer 0 1.0.0.4 127.0.0.1/Setup",      // no scheme: does not split
        "Updater Installer 0 1.0.0.4 https://user@host/x",  // user information
        "Updater Installer 0 1.0.0.4 https://host:0/x",
        "Updater Installer 0 1.0.0.4 " + base + " extra",   // a fifth word
        "Updater Installer 0 1.0.0.4 https://" + std::string(kUpdaterBaseUrlSize, 'a'),
    };
    for (const std::string& line : refused) {
        UpdaterCommand command;
        EXPECT_FALSE(parseUpdaterCommandLine(line.c_str(), &command)) << line;
    }
}

}  // namespace
