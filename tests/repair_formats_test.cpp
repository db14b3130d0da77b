// The pure side of checking and repairing the game folder. The whole-build list reads back as written
// and refuses whole every departure a launcher could act on wrongly; the verification record reads any
// damage as nothing verified with serial 0; the check plan clears, hashes or fetches each listed file
// as the disk and the record say, and a repaired folder, once recorded, passes the next quick check
// without a file hashed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/repair_plan.h"

namespace {

const uint64_t kTime = 133000000000000000u;

const std::string kSignatureLine = "signature " + std::string(128, 'a') + "\n";

BuildFile buildFile(const char* path, uint64_t size, uint8_t fill) {
    BuildFile f{};
    memset(f.sha256, fill, kSha256Size);
    memset(f.payloadSha256, fill + 1, kSha256Size);
    f.size = size;
    f.payloadSize = size / 2;
    buildPayloadPath(f.sha256, f.payloadPath);
    snprintf(f.path, sizeof f.path, "%s", path);
    return f;
}

bool parses(const std::string& text) {
    BuildList list;
    return parseBuildList(text.data(), text.size(), &list);
}

std::string fileLine(const std::string& path) {
    std::string hex(64, 'b');
    return "file " + hex + " 5 " + hex + " 3 Player/Files/" + hex + ".zst " + path + "\n";
}

TEST(BuildList, WrittenListReadsBackAndEveryDepartureRefusesTheWholeList) {
    BuildList written{};
    written.serial = 7;
    written.version = 10005;
    written.files = {buildFile("Data/Maps/World 1/r\xc3\xa9gion.map", 1002, 3), buildFile("Bin/game.dll", 1, 1),
                     buildFile("Data.pak", 5, 5), buildFile("Data/Maps/a.map", 2, 2)};
    std::string body = formatBuildListBody(written);
    std::string text = body + kSignatureLine;
    BuildList list;
    ASSERT_TRUE(parseBuildList(text.data(), text.size(), &list)) << text;
    EXPECT_EQ(list.signedLength, body.size());
    EXPECT_TRUE(list.serial == 7u && list.version == 10005u);
    ASSERT_EQ(list.files.size(), 4u);
    const BuildFile* map = findBuildFile(list, "Data/Maps/World 1/r\xc3\xa9gion.map");
    ASSERT_EQ(map, &list.files[2]);  // bytewise order: "Data.pak" before "Data/", "World 1" before "a.map"
    EXPECT_TRUE(map->size == 1002u && map->payloadSize == 501u && map->sha256[31] == 3 && map->payloadSha256[0] == 4);
    std::string contentHex;
    for (int i = 0; i < kSha256Size; ++i) contentHex += "03";
    EXPECT_EQ(std::string(map->payloadPath), "Player/Files/" + contentHex + ".zst");  // named by content
    EXPECT_EQ(findBuildFile(list, "bin/game.dll"), nullptr);
    EXPECT_EQ(formatBuildListBody(list), body);
    EXPECT_FALSE(parses(body)) << "unsigned";
    ASSERT_TRUE(parseBuildList(body.data(), body.size(), &list, IndexSignature::Optional));
    EXPECT_FALSE(list.isSigned);

    const std::string header = "VYR-PATCH-BUILD 1\n";
    const std::string release = "release 7 10005\n";
    EXPECT_TRUE(parses(header + "release 9223372036854775807 4294967295\n" + kSignatureLine)) << "no files, top serial";
    EXPECT_TRUE(parses(header + release + fileLine("Data") + fileLine("Data.d/x") + fileLine("data.e") +
                       kSignatureLine))
        << "a file beside a folder of another name";
    const std::string departures[] = {
        header + "release 0 10005\n",                    // serials start at 1
        header + "release 9223372036854775808 10005\n",  // beyond 2^63-1
        header + "release 7 0\n",
        header + "release 7 4294967296\n",               // versions fit 32 bits
        header + fileLine("a.dat"),                      // no release line
        header + release + release,
        header + release + fileLine("b.dat") + fileLine("a.dat"),                // out of order
        header + release + fileLine("a.dat") + fileLine("a.dat"),
        header + release + fileLine("Bin/Game.dll") + fileLine("bin/game.dll"),  // one file on Windows
        header + release + fileLine("Maps") + fileLine("maps/x.map"),            // a file where a folder must be
        header + release + fileLine("verify.dat"),                              // the launcher's own files
        header + release + fileLine("Data/x.vyr-part"),
        header + release + fileLine("../outside.dll"),
        header + release + "whole " + std::string(64, 'b') + " 5 " + std::string(64, 'b') + " 3 P/x.zst a\n",
        header + "release 7 10005\r\n",
        "VYR-PATCH-BUILD 2\n" + release,
    };
    for (const std::string& departure : departures) EXPECT_FALSE(parses(departure + kSignatureLine)) << departure;
    EXPECT_FALSE(parses(text + "\n")) << "after the signature";
}

VerifiedFile verified(const char* path, uint64_t size, uint64_t time, uint8_t fill) {
    VerifiedFile f{};
    snprintf(f.path, sizeof f.path, "%s", path);
    f.size = size;
    f.lastWriteTime = time;
    memset(f.sha256, fill, kSha256Size);
    return f;
}

void expectDamaged(const std::string& text, const std::string& what) {
    VerifyRecord record{};
    record.acceptedSerial = 99;
    record.files.push_back(verified("left.over", 1, 1, 1));
    EXPECT_FALSE(parseVerifyRecord(text.data(), text.size(), &record)) << what;
    EXPECT_EQ(record.acceptedSerial, 0u) << what;
    EXPECT_TRUE(record.files.empty()) << what;
}

TEST(VerifyRecord, ReadsBackWhatWasWrittenAndAnyDamageReadsAsNothingVerified) {
    VerifyRecord written{};
    written.acceptedSerial = 42;
    written.files = {verified("Data/r\xc3\xa9gion map.pak", 7, UINT64_MAX, 2), verified("Bin/game.dll", 5, 0, 1),
                     verified("Data/r\xc3\xa9gion map.pak", 8, 132537600000000000u, 3)};  // the later entry wins
    std::string text = formatVerifyRecord(written);
    VerifyRecord record;
    ASSERT_TRUE(parseVerifyRecord(text.data(), text.size(), &record)) << text;
    ASSERT_EQ(record.files.size(), 2u);
    EXPECT_TRUE(record.acceptedSerial == 42u && strcmp(record.files[0].path, "Bin/game.dll") == 0);
    const VerifiedFile* pak = findVerifiedFile(record, "Data/r\xc3\xa9gion map.pak");
    ASSERT_NE(pak, nullptr);
    EXPECT_TRUE(pak->size == 8u && pak->lastWriteTime == 132537600000000000u && pak->sha256[31] == 3);
    EXPECT_EQ(findVerifiedFile(record, "bin/game.dll"), nullptr);
    EXPECT_EQ(formatVerifyRecord(record), text);

    // Written by Python's zlib.crc32, not by this code: the check is zip's CRC-32 over every byte before it.
    const std::string byHand =
        "VYR-VERIFY 1\nserial 3\n"
        "file 5 132537600000000000 2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824 Data/a b.txt\n"
        "file 0 18446744073709551615 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 "
        "Data/r\xc3\xa9gion.map\ncheck f53b0056\n";
    ASSERT_TRUE(parseVerifyRecord(byHand.data(), byHand.size(), &record));
    ASSERT_EQ(record.files.size(), 2u);
    EXPECT_TRUE(record.files[1].lastWriteTime == UINT64_MAX && record.files[0].sha256[0] == 0x2c);
    expectDamaged(
        "VYR-VERIFY 1\nserial 3\n"
        "file 5 1 2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824 b.txt\n"
        "file 5 1 2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824 a.txt\ncheck e91aa7f7\n",
        "paths out of order under a right check");

    for (size_t at = 0; at < text.size(); ++at)
        for (int bit = 0; bit < 8; ++bit) {
            std::string flipped = text;
            flipped[at] = static_cast<char>(flipped[at] ^ (1 << bit));
            expectDamaged(flipped, "bit " + std::to_string(bit) + " of byte " + std::to_string(at));
        }
    for (size_t length = 0; length < text.size(); ++length)
        expectDamaged(text.substr(0, length), "cut at " + std::to_string(length));
    expectDamaged(text + "file 1 1 " + std::string(64, 'a') + " z\n", "a line after the check");
}

TEST(RepairPlan, EachFileIsClearedHashedOrFetchedAsTheDiskAndTheRecordSay) {
    const BuildFile file = buildFile("Data/a.pak", 100, 7);
    VerifiedFile same = verifiedFileOf(file, DiskFile{true, 100, kTime});
    VerifiedFile otherContent = same, otherSize = same;
    otherContent.sha256[5] ^= 1;  // verified as the previous release's bytes
    otherSize.size = 99;
    struct Case { const char* what; DiskFile disk; const VerifiedFile* record; CheckDepth depth; FileCheck expected; };
    const Case cases[] = {
        {"missing", {false, 0, 0}, &same, CheckDepth::Quick, FileCheck::Fetch},
        {"wrong size, time as recorded", {true, 101, kTime}, &same, CheckDepth::Quick, FileCheck::Fetch},
        {"cut short, full check", {true, 0, kTime}, &same, CheckDepth::Full, FileCheck::Fetch},
        {"never verified", {true, 100, kTime}, nullptr, CheckDepth::Quick, FileCheck::Hash},
        {"unchanged", {true, 100, kTime}, &same, CheckDepth::Quick, FileCheck::Fine},
        {"unchanged, full check", {true, 100, kTime}, &same, CheckDepth::Full, FileCheck::Hash},
        {"time changed", {true, 100, kTime + 1}, &same, CheckDepth::Quick, FileCheck::Hash},
        {"time went back", {true, 100, kTime - 1}, &same, CheckDepth::Quick, FileCheck::Hash},
        {"recorded for other bytes", {true, 100, kTime}, &otherContent, CheckDepth::Quick, FileCheck::Hash},
        {"recorded at another size", {true, 100, kTime}, &otherSize, CheckDepth::Quick, FileCheck::Hash},
    };
    for (const Case& c : cases) EXPECT_EQ(planFileCheck(file, c.record, c.disk, c.depth), c.expected) << c.what;

    BuildList list{};
    list.serial = 5;
    list.version = 10005;
    list.files = {buildFile("Bin/game.dll", 300, 1), buildFile("Data/a.pak", 100, 7), buildFile("Data/b.pak", 40, 8)};
    EXPECT_EQ(judgeBuildList(list, 5, 10005), ListVerdict::Accepted) << "the same release again";
    EXPECT_EQ(judgeBuildList(list, 4, 10005), ListVerdict::Accepted);
    EXPECT_EQ(judgeBuildList(list, 0, 10005), ListVerdict::Accepted) << "nothing accepted yet";
    EXPECT_EQ(judgeBuildList(list, 6, 10005), ListVerdict::OlderSerial);
    EXPECT_EQ(judgeBuildList(list, 5, 10004), ListVerdict::OtherVersion);
    EXPECT_EQ(judgeBuildList(list, 5, 10006), ListVerdict::OtherVersion);

    // A record from the last run: game.dll right, a.pak since touched, a save the list does not name.
    VerifyRecord record{};
    record.acceptedSerial = 4;
    record.files = {verifiedFileOf(list.files[0], DiskFile{true, 300, kTime}), same,
                    verifiedFileOf(buildFile("Saves/slot1.sav", 9, 9), DiskFile{true, 9, kTime})};
    std::vector<DiskFile> disk = {{true, 300, kTime}, {true, 100, kTime + 50}, {false, 0, 0}};
    CheckPlan plan;
    EXPECT_FALSE(planBuildCheck(list, record, {disk[0], disk[1]}, CheckDepth::Quick, &plan));
    ASSERT_TRUE(planBuildCheck(list, record, disk, CheckDepth::Quick, &plan));
    ASSERT_EQ(plan.checks.size(), 3u) << "the save is never part of the plan";
    EXPECT_TRUE(plan.checks[0] == FileCheck::Fine && plan.checks[1] == FileCheck::Hash &&
                plan.checks[2] == FileCheck::Fetch);
    EXPECT_TRUE(plan.hashCount == 1 && plan.hashBytes == 100 && plan.fetchCount == 1 && plan.fetchBytes == 20);
    ASSERT_TRUE(planBuildCheck(list, record, disk, CheckDepth::Full, &plan));
    EXPECT_TRUE(plan.hashCount == 2 && plan.hashBytes == 400 && plan.fetchCount == 1);

    // After the repair the launcher records what the disk now says; the record survives its file form
    // and the next quick check hashes nothing.
    disk[2] = {true, 40, kTime + 99};
    VerifyRecord next{};
    next.acceptedSerial = list.serial;
    for (size_t i = 0; i < list.files.size(); ++i) next.files.push_back(verifiedFileOf(list.files[i], disk[i]));
    std::string stored = formatVerifyRecord(next);
    VerifyRecord reread;
    ASSERT_TRUE(parseVerifyRecord(stored.data(), stored.size(), &reread));
    ASSERT_TRUE(planBuildCheck(list, reread, disk, CheckDepth::Quick, &plan));
    EXPECT_EQ(plan.hashCount + plan.fetchCount, 0u);
    EXPECT_EQ(judgeBuildList(list, reread.acceptedSerial, 10005), ListVerdict::Accepted);
}

// Files a step just renamed into place after hashing them: the check after the steps clears those whose
// content the list names and reads the others, and the record stays in the order its lookup needs.
TEST(RepairPlan, FilesPlacedByTheStepsAreClearedOnlyForTheContentTheListNames) {
    BuildList list{};
    list.serial = 2;
    list.version = 10005;
    list.files = {buildFile("Bin/game.dll", 300, 1), buildFile("Data/a.pak", 100, 7), buildFile("Data/b.pak", 40, 8),
                  buildFile("Data/c.pak", 60, 9)};
    VerifyRecord record{};
    record.files = {verifiedFileOf(list.files[0], DiskFile{true, 300, kTime}),
                    verifiedFileOf(list.files[3], DiskFile{true, 60, kTime})};
    std::vector<DiskFile> disk = {{true, 300, kTime + 1}, {true, 100, kTime + 2}, {true, 40, kTime + 3},
                                  {true, 60, kTime + 4}};
    VerifiedFile oldContent = verifiedFileOf(buildFile("Data/b.pak", 40, 6), disk[2]);  // an earlier step's bytes
    VerifiedFile unlisted = verifiedFileOf(buildFile("Data/gone.pak", 5, 5), DiskFile{true, 5, kTime});
    VerifiedFile dllEarlier = verifiedFileOf(list.files[0], DiskFile{true, 300, kTime - 7});
    std::vector<VerifiedFile> placed = {verifiedFileOf(list.files[1], disk[1]), oldContent, unlisted, dllEarlier,
                                        verifiedFileOf(list.files[0], disk[0])};
    vouchForPlacedFiles(list, placed, &record);
    ASSERT_EQ(record.files.size(), 3u) << "nothing the list does not name, nothing of other content";
    EXPECT_EQ(findVerifiedFile(record, "Data/gone.pak"), nullptr);
    EXPECT_EQ(findVerifiedFile(record, "Data/b.pak"), nullptr);
    ASSERT_NE(findVerifiedFile(record, "Bin/game.dll"), nullptr);
    EXPECT_EQ(findVerifiedFile(record, "Bin/game.dll")->lastWriteTime, kTime + 1) << "the last rename counts";
    CheckPlan plan;
    ASSERT_TRUE(planBuildCheck(list, record, disk, CheckDepth::Quick, &plan));
    EXPECT_TRUE(plan.checks[0] == FileCheck::Fine && plan.checks[1] == FileCheck::Fine &&
                plan.checks[2] == FileCheck::Hash && plan.checks[3] == FileCheck::Hash);
    std::string stored = formatVerifyRecord(record);
    VerifyRecord reread;
    ASSERT_TRUE(parseVerifyRecord(stored.data(), stored.size(), &reread)) << "kept in path order, each path once";
    EXPECT_EQ(reread.files.size(), 3u);
}

}  // namespace
