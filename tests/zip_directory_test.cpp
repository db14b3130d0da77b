// The central directory reader on archives written byte by byte: the regions it gives in classic,
// zip64 and prefixed form, the overlaps it refuses, and every cut of an archive (under the sanitizers
// in the native build).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archives/zip_directory.h"
#include "zip_raw_archive.h"

namespace {

bool readFromString(void* context, uint64_t offset, void* buffer, size_t size) {
    const std::string& bytes = *static_cast<const std::string*>(context);
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    memcpy(buffer, bytes.data() + offset, size);
    return true;
}

ZipDirectoryStatus readRegions(const std::string& bytes, std::vector<ZipEntryRegion>* regions) {
    ZipSource source = {readFromString, const_cast<std::string*>(&bytes), bytes.size()};
    return readZipDirectory(source, regions);
}

const std::vector<RawZipEntry> kEntries = {{"a.txt", "alpha"}, {"dir/", ""}, {"dir/b.bin", std::string(300, 'b')}};

// Local headers at 0, 40 and 74 (30 bytes plus the name, then the data); the central directory at 413.
const std::vector<ZipEntryRegion> kRegions = {{35, 40}, {74, 74}, {113, 413}};

TEST(ZipDirectory, ClassicZip64AndPrefixedFormsGiveTheSameRegions) {
    std::vector<ZipEntryRegion> regions;
    ASSERT_EQ(readRegions(writeRawZip(kEntries), &regions), kZipDirectoryRead);
    ASSERT_EQ(regions.size(), kRegions.size());
    for (size_t i = 0; i < regions.size(); ++i) {
        EXPECT_EQ(regions[i].dataFloor, kRegions[i].dataFloor) << i;
        EXPECT_EQ(regions[i].dataLimit, kRegions[i].dataLimit) << i;
    }

    // In zip64 form each local header carries a 20-byte extra field, so later headers move; the
    // region still starts right after the name and ends at the next header.
    RawZipLayout zip64;
    zip64.zip64 = true;
    ASSERT_EQ(readRegions(writeRawZip(kEntries, zip64), &regions), kZipDirectoryRead);
    ASSERT_EQ(regions.size(), 3u);
    EXPECT_EQ(regions[0].dataFloor, 35u);
    EXPECT_EQ(regions[0].dataLimit, 60u);
    EXPECT_EQ(regions[2].dataFloor, 114u + 39);
    EXPECT_EQ(regions[2].dataLimit, 114u + 39 + 20 + 300);

    RawZipLayout prefixed;
    prefixed.prefix = std::string(1000, 'S');
    ASSERT_EQ(readRegions(writeRawZip(kEntries, prefixed), &regions), kZipDirectoryRead);
    for (size_t i = 0; i < regions.size(); ++i) {
        EXPECT_EQ(regions[i].dataFloor, kRegions[i].dataFloor + 1000) << i;
        EXPECT_EQ(regions[i].dataLimit, kRegions[i].dataLimit + 1000) << i;
    }

    ASSERT_EQ(readRegions(writeRawZip({}), &regions), kZipDirectoryUnreadable);  // end record at 0, as minizip
    prefixed.prefix = "x";
    ASSERT_EQ(readRegions(writeRawZip({}, prefixed), &regions), kZipDirectoryRead);
    EXPECT_TRUE(regions.empty());
}

// The archive with the local header offset of central record `record` changed to `offset`.
std::string withLocalOffset(std::string zip, size_t record, uint32_t offset) {
    size_t at = zip.find("PK\x01\x02");
    for (size_t i = 0; i < record; ++i) at = zip.find("PK\x01\x02", at + 4);
    std::string field;
    rawPut32(field, offset);
    zip.replace(at + 42, 4, field);
    return zip;
}

TEST(ZipDirectory, EntriesClaimingTheSameBytesAreRefused) {
    const std::string zip = writeRawZip(kEntries);
    struct Case {
        const char* label;
        size_t record;
        uint32_t offset;
    };
    const Case cases[] = {{"two records, one local header", 1, 0},
                          {"a header inside another entry's data", 0, 100},
                          {"data running into the central directory", 2, 400},
                          {"a header beyond the central directory", 0, 500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<ZipEntryRegion> regions;
        EXPECT_EQ(readRegions(withLocalOffset(zip, c.record, c.offset), &regions), kZipEntriesOverlap);
        EXPECT_TRUE(regions.empty());
    }
}

TEST(ZipDirectory, EveryCutOfAnArchiveIsReadSafely) {
    RawZipLayout zip64;
    zip64.zip64 = true;
    for (const std::string& zip : {writeRawZip(kEntries), writeRawZip(kEntries, zip64)}) {
        std::vector<ZipEntryRegion> whole;
        ASSERT_EQ(readRegions(zip, &whole), kZipDirectoryRead);
        for (size_t length = 0; length < zip.size(); ++length) {
            // A cut that keeps the zip64 locator is still read, as minizip does; its regions must
            // then lie inside what is left.
            std::vector<ZipEntryRegion> regions;
            if (readRegions(zip.substr(0, length), &regions) != kZipDirectoryRead) continue;
            for (const ZipEntryRegion& region : regions) EXPECT_LE(region.dataLimit, length) << length;
        }
    }
}

TEST(ZipDirectory, DataMustStayInsideItsRegion) {
    const ZipEntryRegion region = {100, 200};
    EXPECT_TRUE(dataStaysInRegion(region, 100, 100));
    EXPECT_TRUE(dataStaysInRegion(region, 150, 0));
    EXPECT_FALSE(dataStaysInRegion(region, 99, 1));    // a header shorter than its name
    EXPECT_FALSE(dataStaysInRegion(region, 120, 81));  // a local extra field moved the data along
    EXPECT_FALSE(dataStaysInRegion(region, 150, ~0ull));
}

// The records that fill the directory are the entries; the count must agree, but for the 0xFFFF
// that zip writers without zip64 leave for 65,535 entries or more. Each region also tells the method,
// the flags and whether the name holds anything beyond ASCII case for the unpacking lanes to fold.
TEST(ZipDirectory, DirectoryIsWalkedThroughItsSizeAndItsCountMustAgree) {
    std::vector<ZipEntryRegion> regions;
    const std::vector<RawZipEntry> three = {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}};
    for (int64_t count : {0, 2, 4, 0xffff}) {
        RawZipLayout miscounted;
        miscounted.endCount = count;
        EXPECT_EQ(readRegions(writeRawZip(three, miscounted), &regions), kZipCountMismatch) << count;
        EXPECT_TRUE(regions.empty());
    }
    for (size_t entries : {size_t{0xffff}, size_t{0x10000}, size_t{0x10005}}) {
        RawZipLayout overflowed;
        overflowed.endCount = 0xffff;
        std::vector<RawZipEntry> many(entries, RawZipEntry{"d/", ""});
        ASSERT_EQ(readRegions(writeRawZip(many, overflowed), &regions), kZipDirectoryRead) << entries;
        EXPECT_EQ(regions.size(), entries);
    }

    ASSERT_EQ(readRegions(writeRawZip({rawPackedEntry("vimrc", "v", 12, "BZh"), {"LOCALI~1.DAT", "s"},
                                       rawPackedEntry("\xd0\x90.txt", "a", 0, "a", -1, kZipFlagUtf8Name),
                                       {"Localization.dat", "l"}}),
                          &regions),
              kZipDirectoryRead);
    ASSERT_EQ(regions.size(), 4u);
    EXPECT_EQ(regions[0].method, 12);
    EXPECT_EQ(regions[2].flags, kZipFlagUtf8Name);
    EXPECT_EQ(std::vector<bool>({regions[0].plainName, regions[1].plainName, regions[2].plainName,
                                 regions[3].plainName}),
              std::vector<bool>({true, false, false, true}));
}

}  // namespace
