// The delta list text: what the writer makes reads back to the same list with its signed span, and
// every departure from the format (which a launcher would otherwise half-use) refuses the whole list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "formats/delta_list.h"

namespace {

DeltaEntry entry(bool hasBase, const char* target, uint8_t fill) {
    DeltaEntry e{};
    e.hasBase = hasBase;
    memset(e.baseSha256, fill, kSha256Size);
    memset(e.targetSha256, fill + 1, kSha256Size);
    memset(e.payloadSha256, fill + 2, kSha256Size);
    e.targetSize = 1000u + fill;
    e.payloadSize = 10u + fill;
    snprintf(e.payloadPath, sizeof e.payloadPath, "Player/Deltas/%d.zst", fill);
    snprintf(e.targetPath, sizeof e.targetPath, "%s", target);
    return e;
}

DeltaList sampleList() {
    DeltaList list{};
    DeltaStep later{10006, {}, "Patch10006.zip", {entry(true, "Bin/game.dll", 7)}};
    DeltaStep first{10005, {}, "Patch10005.zip",
                    {entry(false, "delete.txt", 1), entry(true, "Data/Maps/World 1/r\xc3\xa9gion.map", 3)}};
    memset(first.archiveSha256, 0x55, kSha256Size);
    list.steps = {later, first};  // the writer orders them
    list.launcherDeltas = {entry(true, "", 9)};
    return list;
}

std::string signedText(const DeltaList& list) {
    return formatDeltaListBody(list) + "signature " + std::string(128, 'a') + "\n";
}

bool parses(const std::string& text) {
    DeltaList list;
    return parseDeltaList(text.data(), text.size(), &list);
}

TEST(DeltaList, WrittenListReadsBackWithItsSignedSpanAndRefusesEveryDeparture) {
    std::string body = formatDeltaListBody(sampleList());
    std::string text = signedText(sampleList());
    DeltaList list;
    ASSERT_TRUE(parseDeltaList(text.data(), text.size(), &list)) << text;
    EXPECT_EQ(list.signedLength, body.size());
    ASSERT_EQ(list.steps.size(), 2u);
    const DeltaStep* step = findDeltaStep(list, 10005);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step, &list.steps[0]);
    EXPECT_EQ(findDeltaStep(list, 10004), nullptr);
    EXPECT_STREQ(step->archiveName, "Patch10005.zip");
    EXPECT_EQ(step->archiveSha256[31], 0x55);
    ASSERT_EQ(step->entries.size(), 2u);
    const DeltaEntry& map = step->entries[0];  // sorted by target path, bytewise
    EXPECT_TRUE(map.hasBase);
    EXPECT_STREQ(map.targetPath, "Data/Maps/World 1/r\xc3\xa9gion.map");
    EXPECT_STREQ(map.payloadPath, "Player/Deltas/3.zst");
    EXPECT_EQ(map.baseSha256[0], 3);
    EXPECT_EQ(map.targetSha256[0], 4);
    EXPECT_EQ(map.payloadSha256[0], 5);
    EXPECT_EQ(map.targetSize, 1003u);
    EXPECT_EQ(map.payloadSize, 13u);
    EXPECT_FALSE(step->entries[1].hasBase);
    ASSERT_EQ(list.launcherDeltas.size(), 1u);
    EXPECT_STREQ(list.launcherDeltas[0].targetPath, "");
    EXPECT_EQ(formatDeltaListBody(list), body);

    DeltaList unsignedList;
    EXPECT_FALSE(parseDeltaList(body.data(), body.size(), &unsignedList));
    ASSERT_TRUE(parseDeltaList(body.data(), body.size(), &unsignedList, IndexSignature::Optional));
    EXPECT_FALSE(unsignedList.isSigned);

    std::string hex = std::string(64, 'b');
    std::string line = "delta " + hex + " " + hex + " 5 " + hex + " 3 Player/Deltas/x.zst ";
    const std::string departures[] = {
        "step 10007 " + hex + " Patch10007.zip\n" + line + "a.txt\n" + line + "a.txt\n",  // a target twice
        "step 10004 " + hex + " Patch10004.zip\n",                                     // versions must rise
        "step 0 " + hex + " Patch0.zip\n",                                             // no version 0
        "step 4294967296 " + hex + " P.zip\n",                                        // beyond 32 bits
        "step 10007 " + hex + " Patch 10007.zip\n",                                    // archive name with a space
        "step 10007 " + hex + " Patch10007.zip\n" + line + "../outside.dll\n",          // leaves the folder
        "step 10007 " + hex + " Patch10007.zip\n" + line + "Bin\\game.dll\n",           // backslash
        "step 10007 " + hex + " Patch10007.zip\n" + line + "bad\xc0\xafutf8\n",         // overlong UTF-8
        "step 10007 " + hex + " Patch10007.zip\n" + line + "\n",                        // no target
        "step 10007 " + hex + " Patch10007.zip\nwhole " + hex + " 05 " + hex + " 3 P/x.zst t\n",  // leading zero
        "step 10007 " + hex + " Patch10007.zip\nwhole " + hex + " 5 " + hex.substr(1) + "B 3 P/x.zst t\n",
        "step 10007 " + hex + " Patch10007.zip\nfile " + hex + " 5 t\n",  // a line of another kind
        "step 10007 " + hex + " Patch10007.zip\r\n",
    };
    // Each departure is placed where a step may stand: after the last step, before the launcher line.
    size_t launcherAt = body.find("launcher ");
    for (const std::string& departure : departures)
        EXPECT_FALSE(parses(body.substr(0, launcherAt) + departure + body.substr(launcherAt) + "signature " +
                            std::string(128, 'a') + "\n"))
            << departure;
    EXPECT_TRUE(parses(body.substr(0, launcherAt) + "step 10007 " + hex + " Patch10007.zip\n" + line + "a b.txt\n" +
                       body.substr(launcherAt) + "signature " + std::string(128, 'a') + "\n"));
    EXPECT_FALSE(parses(body + "step 10007 " + hex + " Patch10007.zip\n" + "signature " + std::string(128, 'a') + "\n"))
        << "a step after the launcher lines";
    EXPECT_FALSE(parses("VYR-PATCH-DELTAS 1\n" + line + "a.txt\nsignature " + std::string(128, 'a') + "\n"))
        << "an entry before any step";
    EXPECT_FALSE(parses(text + "\n")) << "after the signature";
    EXPECT_FALSE(parses("VYR-PATCH-DELTAS 2\n" + text.substr(text.find('\n') + 1)));
}

}  // namespace
