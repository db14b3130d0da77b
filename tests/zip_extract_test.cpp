// Zip extraction on real archives written by the test: nested paths with and without directory
// entries, replaced read-only files, broken archives and entries, names that try to leave the folder,
// targets that stay whole when an entry fails, and the reader's buffer edges and zip64 forms.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "archives/zip_extract.h"
#include "update/step_durability.h"
#include "zip_raw_archive.h"
#include "zip_test_archive.h"

namespace {

UnpackBuffers gBuffers;
std::vector<std::string> gPublished;
void recordMessage(const char* message) { gPublished.push_back(message); }

struct Extraction {
    int result;
    std::string message;
};

Extraction extract(const std::string& archive, const char* before = "") {
    char message[1024];
    snprintf(message, sizeof message, "%s", before);
    gPublished.clear();
    int result = extractArchive(archive.c_str(), message, sizeof message, &gBuffers, recordMessage);
    return {result, message};
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool partFileExists(const std::string& path) { return exists(path + kPartFileSuffix); }
// Opens the file without sharing, as a virus scanner checking it would.
HANDLE holdWithoutSharing(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
bool isDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(ZipExtract, NestedEntriesWithoutDirectoryEntriesCreateTheirFolders) {
    TempFolder folder;
    ASSERT_TRUE(writeZipArchive("p.zip", {{"top.txt", "top level", false},
                                          {"d1/d2/name.dat", std::string(100000, 'x'), false},
                                          {"d1\\back.txt", "backslash", true}}));
    Extraction e = extract("p.zip");
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.message, "Extracting p.zip - d1\\back.txt");
    EXPECT_EQ(readWholeFile(folder.file("top.txt")), "top level");
    EXPECT_EQ(readWholeFile(folder.file("d1\\d2\\name.dat")), std::string(100000, 'x'));
    EXPECT_EQ(readWholeFile(folder.file("d1\\back.txt")), "backslash");
    // Each entry is shown twice: the archive prefix while it runs, then with its name.
    const std::vector<std::string> expected = {
        "Extracting p.zip - ", "Extracting p.zip - top.txt",      "Extracting p.zip - ",
        "Extracting p.zip - d1/d2/name.dat", "Extracting p.zip - ", "Extracting p.zip - d1\\back.txt"};
    EXPECT_EQ(gPublished, expected);
}

TEST(ZipExtract, DirectoryEntriesCreateFoldersAsTheyComeUp) {
    TempFolder folder;
    ASSERT_TRUE(writeZipArchive("dirs.zip", {{"d1/", "", false}, {"d1/d2/", "", false}, {"d1/empty/", "", false},
                                             {"d1/d2/f.txt", "in d2", false}}));
    gPublished.clear();
    Extraction e = extract("dirs.zip");
    EXPECT_EQ(e.result, 1);
    EXPECT_TRUE(isDirectory(folder.file("d1\\empty")));
    EXPECT_EQ(readWholeFile(folder.file("d1\\d2\\f.txt")), "in d2");
    EXPECT_EQ(gPublished[1], "Extracting dirs.zip - creating directory: d1/\n");
}

TEST(ZipExtract, EmptyArchiveSucceedsAndLeavesTheMessage) {
    TempFolder folder;
    ASSERT_TRUE(writeZipArchive("empty.zip", {}));
    Extraction e = extract("empty.zip", "Downloading file (empty.zip)");
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.message, "Downloading file (empty.zip)");
    EXPECT_TRUE(gPublished.empty());
}

TEST(ZipExtract, EmptyArchiveWithCommentSucceedsButCutOneFails) {
    TempFolder folder;
    zipFile zip = zipOpen(folder.file("note.zip").c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(zipClose(zip, "nothing in here"), ZIP_OK);
    EXPECT_EQ(extract("note.zip").result, 1);
    std::string bytes = readWholeFile(folder.file("note.zip"));
    writeWholeFile(folder.file("note.zip"), bytes.substr(0, bytes.size() - 1));
    EXPECT_EQ(extract("note.zip").result, 0);
}

TEST(ZipExtract, ReadOnlyHiddenTargetIsReplacedWithNormalAttributes) {
    TempFolder folder;
    writeWholeFile(folder.file("game.dat"), "old content that is longer");
    SetFileAttributesA(folder.file("game.dat").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(writeZipArchive("ro.zip", {{"game.dat", "new", false}}));
    EXPECT_EQ(extract("ro.zip").result, 1);
    EXPECT_EQ(readWholeFile(folder.file("game.dat")), "new");
    EXPECT_EQ(GetFileAttributesA(folder.file("game.dat").c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              0u);
}

TEST(ZipExtract, ArchivesThatCannotBeOpened) {
    TempFolder folder;
    writeWholeFile(folder.file("text.zip"), "this is a plain text file, not an archive");
    writeWholeFile(folder.file("zero.zip"), "");
    for (const char* name : {"text.zip", "zero.zip", "missing.zip"}) {
        Extraction e = extract(name, "before");
        EXPECT_EQ(e.result, 0) << name;
        EXPECT_EQ(e.message, std::string("Extracting ") + name + " - error in opening file.");
    }
}

// A stored entry whose bytes are changed after writing inflates fine but fails its checksum: the
// failure is permanent and the file it would have replaced keeps every byte.
TEST(ZipExtract, ChecksumFailureKeepsTheOldTargetWhole) {
    TempFolder folder;
    const std::string payload = "CORRUPT-ME-PAYLOAD-0123456789";
    ASSERT_TRUE(writeZipArchive("crc.zip", {{"first.txt", "kept", false},
                                            {"broken.txt", payload, true},
                                            {"later.txt", "never reached", false}}));
    const std::string previous = "previous, longer than the new entry\r\n" + std::string(70000, 'p');
    writeWholeFile(folder.file("broken.txt"), previous);
    std::string bytes = readWholeFile(folder.file("crc.zip"));
    size_t at = bytes.find(payload);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 3] ^= 0x20;
    writeWholeFile(folder.file("crc.zip"), bytes);

    Extraction e = extract("crc.zip");
    EXPECT_EQ(e.result, kExtractFailed);
    EXPECT_EQ(e.message, "Extracting crc.zip - error in reading zip file");
    EXPECT_EQ(readWholeFile(folder.file("first.txt")), "kept");
    EXPECT_EQ(readWholeFile(folder.file("broken.txt")), previous);
    EXPECT_FALSE(partFileExists(folder.file("broken.txt")));
    EXPECT_FALSE(exists(folder.file("later.txt")));

    unzFile archive = unzOpen(folder.file("crc.zip").c_str());
    ASSERT_NE(archive, nullptr);
    ASSERT_EQ(unzGoToNextFile(archive), UNZ_OK);
    char subMessage[kSubMessageSize];
    const ZipEntryRegion wholeFile = {0, ~0ull};
    EXPECT_EQ(extractCurrentEntry(archive, wholeFile, gBuffers.lane[0], subMessage), UNZ_CRCERROR);
    EXPECT_STREQ(subMessage, "error in reading zip file");
    unzClose(archive);
}

// A scanner holding the target (or the archive) open without sharing makes the archive fail for now:
// it can be retried, the target keeps its bytes, no part file stays; once the handle is closed it
// succeeds.
TEST(ZipExtract, TargetHeldOpenByAnotherProgramGivesRetry) {
    TempFolder folder;
    writeWholeFile(folder.file("game.dat"), "old game data");
    ASSERT_TRUE(writeZipArchive("held.zip", {{"first.txt", "one", false}, {"game.dat", "new game data", false}}));
    HANDLE holder = holdWithoutSharing(folder.file("game.dat"));
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Extraction held = extract("held.zip");
    CloseHandle(holder);
    EXPECT_EQ(held.result, kExtractRetry);
    EXPECT_EQ(held.message, "Extracting held.zip - can't create extracted file game.dat");
    EXPECT_EQ(readWholeFile(folder.file("game.dat")), "old game data");
    EXPECT_FALSE(partFileExists(folder.file("game.dat")));

    // The same holds for the archive itself while a scanner checks the fresh download.
    HANDLE archiveHolder = holdWithoutSharing(folder.file("held.zip"));
    ASSERT_NE(archiveHolder, INVALID_HANDLE_VALUE);
    Extraction locked = extract("held.zip");
    CloseHandle(archiveHolder);
    EXPECT_EQ(locked.result, kExtractRetry);
    EXPECT_EQ(locked.message, "Extracting held.zip - error in opening file.");

    Extraction again = extract("held.zip");
    EXPECT_EQ(again.result, kExtractDone);
    EXPECT_EQ(readWholeFile(folder.file("game.dat")), "new game data");
    EXPECT_FALSE(partFileExists(folder.file("game.dat")));
}

// The reader fills 64 KiB windows at multiples of 64 KiB. A stored pad entry moves the second local
// header, the central records and the end record byte by byte across the first edge; every archive
// must extract whole.
TEST(ZipExtract, RecordsAcrossTheReadBufferEdgeAreRead) {
    TempFolder folder;
    const size_t kEdge = 64 * 1024;
    const size_t kPadHeader = 30 + 7, kSecondEntry = 30 + 5 + 5, kCentral = 46 + 7 + 46 + 5, kEnd = 22;
    for (size_t beforeEdge = 0; beforeEdge <= kSecondEntry + kCentral + kEnd; ++beforeEdge) {
        SCOPED_TRACE(beforeEdge);
        const std::string pad(kEdge - kPadHeader - beforeEdge, static_cast<char>('a' + beforeEdge % 26));
        ASSERT_TRUE(writeZipArchive("edge.zip", {{"pad.bin", pad, true}, {"b.txt", "bytes", true}}));
        ASSERT_EQ(readWholeFile(folder.file("edge.zip")).size(), kEdge - beforeEdge + kSecondEntry + kCentral + kEnd);
        ASSERT_EQ(extract("edge.zip").result, kExtractDone);
        EXPECT_EQ(readWholeFile(folder.file("pad.bin")), pad);
        EXPECT_EQ(readWholeFile(folder.file("b.txt")), "bytes");
    }
}

// Zip64 forms: minizip's writer asked for zip64 (extra fields in the local headers), and an archive
// whose sizes, offsets and entry count are only in zip64 records, as beyond 4 GiB or 65535 entries.
TEST(ZipExtract, Zip64ArchivesAreRead) {
    TempFolder folder;
    const std::string big(200000, 'z');
    zipFile zip = zipOpen64(folder.file("forced.zip").c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const char* name : {"d/big.bin", "small.txt"}) {
        zip_fileinfo info = {};
        ASSERT_EQ(zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                        Z_DEFAULT_COMPRESSION, 1),
                  ZIP_OK);
        const std::string& data = name[0] == 'd' ? big : std::string("small");
        ASSERT_EQ(zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
    writeWholeFile(folder.file("small.txt"), "old");
    EXPECT_EQ(extract("forced.zip").result, kExtractDone);
    EXPECT_EQ(readWholeFile(folder.file("d\\big.bin")), big);
    EXPECT_EQ(readWholeFile(folder.file("small.txt")), "small");

    RawZipLayout zip64;
    zip64.zip64 = true;
    writeWholeFile(folder.file("records.zip"),
                   writeRawZip({{"r/", ""}, {"r/one.txt", "first"}, {"two.bin", std::string(70000, 't')}}, zip64));
    Extraction e = extract("records.zip");
    EXPECT_EQ(e.result, kExtractDone) << e.message;
    EXPECT_EQ(readWholeFile(folder.file("r\\one.txt")), "first");
    EXPECT_EQ(readWholeFile(folder.file("two.bin")), std::string(70000, 't'));
}

TEST(ZipExtract, TruncatedArchiveFails) {
    TempFolder folder;
    ASSERT_TRUE(writeZipArchive("cut.zip", {{"big.bin", std::string(200000, 'q'), true}}));
    std::string bytes = readWholeFile(folder.file("cut.zip"));
    writeWholeFile(folder.file("cut.zip"), bytes.substr(0, bytes.size() / 2));
    EXPECT_EQ(extract("cut.zip").result, 0);
    EXPECT_FALSE(exists(folder.file("big.bin")));
}

// Names that would land outside the game folder (or on a device) fail the archive before anything
// of theirs is created; entries before them stay extracted.
TEST(ZipExtract, NamesLeavingTheFolderFailTheArchive) {
    TempFolder root;
    CreateDirectoryA(root.file("game").c_str(), nullptr);
    SetCurrentDirectoryA(root.file("game").c_str());
    const char* names[] = {"../escaped.txt", "..\\escaped.txt", "d/../../escaped.txt", "/escaped.txt",
                           "\\escaped.txt",   "C:escaped.txt",   "C:/escaped.txt",      "escaped.txt:stream",
                           "../",             "../escaped/",     "NUL",                 "x/nul.txt",
                           "nul .dat",        "COM1 .bin",       "x/con .cfg",          "lpt1 . .log",
                           "COM\xb9.dat"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(writeZipArchive("slip.zip", {{"ok.txt", "fine", false}, {name, "payload", false}}));
        Extraction e = extract("slip.zip");
        EXPECT_EQ(e.result, 0);
        EXPECT_EQ(e.message, std::string("Extracting slip.zip - can't create extracted file ") + name);
        EXPECT_EQ(readWholeFile(root.file("game\\ok.txt")), "fine");
        EXPECT_FALSE(exists(root.file("escaped.txt")));
        EXPECT_FALSE(exists(root.file("escaped")));
        EXPECT_FALSE(exists(root.file("game\\x")));
    }
    SetCurrentDirectoryA(root.path().c_str());
}

TEST(ZipExtract, OverlongEntryNameIsRefused) {
    TempFolder folder;
    const std::string longName(300, 'n');
    ASSERT_TRUE(writeZipArchive("long.zip", {{longName, "payload", false}}));
    Extraction e = extract("long.zip");
    EXPECT_EQ(e.result, 0);
    // The entry's part of the message has 256 bytes, so the name is cut there.
    const std::string subMessage = "can't create extracted file " + longName;
    EXPECT_EQ(e.message, "Extracting long.zip - " + subMessage.substr(0, 255));
}

std::string nestedPath(int depth, const char* leaf) {
    std::string path;
    for (int i = 0; i < depth; ++i) path += "d" + std::to_string(i) + "/";
    return path + leaf;
}

std::string nativeDirectory(int depth) {
    std::string path;
    for (int i = 0; i < depth; ++i) path += (i ? "\\d" : "d") + std::to_string(i);
    return path;
}

TEST(ZipExtract, MakeDirectoriesStopsAtSixteenLevels) {
    TempFolder folder;
    makeDirectories(nestedPath(16, "f.txt").c_str());
    EXPECT_TRUE(isDirectory(folder.file(nativeDirectory(16))));
    TempFolder deeper;
    makeDirectories(nestedPath(17, "f.txt").c_str());
    EXPECT_TRUE(isDirectory(deeper.file(nativeDirectory(16))));
    EXPECT_FALSE(isDirectory(deeper.file(nativeDirectory(17))));
}

TEST(ZipExtract, MakeDirectoriesTakesOnlyTheDirectoryPart) {
    TempFolder folder;
    EXPECT_EQ(makeDirectories("plain.txt"), 0);
    EXPECT_NE(makeDirectories("a\\b/c.txt"), 0);
    EXPECT_TRUE(isDirectory(folder.file("a\\b")));
    EXPECT_FALSE(exists(folder.file("a\\b\\c.txt")));
    EXPECT_EQ(makeDirectories("a/b/c.txt"), 0);  // exists already: the last creation made nothing new
    EXPECT_EQ(makeDirectories("../up/x.txt"), 0);
    EXPECT_FALSE(exists(folder.path() + "\\..\\up"));
}

TEST(ZipExtract, EntriesDeeperThanSixteenLevelsCannotBeCreated) {
    TempFolder folder;
    ASSERT_TRUE(writeZipArchive("deep.zip", {{nestedPath(16, "ok.txt"), "sixteen", false},
                                             {nestedPath(17, "no.txt"), "seventeen", false}}));
    Extraction e = extract("deep.zip");
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(readWholeFile(folder.file(nativeDirectory(16) + "\\ok.txt")), "sixteen");
    EXPECT_EQ(e.message, "Extracting deep.zip - can't create extracted file " + nestedPath(17, "no.txt"));
}

// An archive of many entries is unpacked by two threads. Names Windows takes for one file (here they
// differ in case) must still be written in archive order, the later winning; and a failure must be
// the one a single thread meets first: a permanent one (a checksum) before transient ones (targets a
// scanner holds) fails the archive for good, with every entry before it in place and no part file
// anywhere.
TEST(ZipExtract, ManyEntriesUnpackSideBySideAsOneThreadWould) {
    TempFolder folder;
    // The earlier of each pair is large, so that were it written beside the later one it would end last.
    std::vector<ZipTestEntry> pairs;
    for (int i = 0; i < 64; ++i) pairs.push_back({"fill/f" + std::to_string(i) + ".dat", "fill", false});
    for (int i = 0; i < 16; ++i) {
        std::string name = "set" + std::to_string(i % 5) + "/pair" + std::to_string(i) + ".dat";
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        pairs.push_back({name, std::string(1 << 20, static_cast<char>('a' + i)), false});
        pairs.push_back({upper, "later " + std::to_string(i), false});
    }
    ASSERT_TRUE(writeZipArchive("pairs.zip", pairs));
    ASSERT_EQ(extract("pairs.zip").result, kExtractDone);
    for (int i = 0; i < 16; ++i) {
        std::string name = "set" + std::to_string(i % 5) + "\\pair" + std::to_string(i) + ".dat";
        EXPECT_EQ(readWholeFile(folder.file(name)), "later " + std::to_string(i)) << name;
        EXPECT_FALSE(partFileExists(folder.file(name))) << name;
    }

    // The lane of the corrupt entry first has 40 large entries to write, the other lane meets a held
    // target at once: the checksum failure, coming later in time but first in the archive, is reported.
    auto nameInLane = [](int lane, int* counter) {
        std::string name;
        do name = "f/e" + std::to_string((*counter)++) + ".dat";
        while (unpackLaneOf(name.c_str(), kUnpackLanes) != lane);
        return name;
    };
    int counter = 0;
    std::vector<ZipTestEntry> entries;
    for (int i = 0; i < 40; ++i) entries.push_back({nameInLane(0, &counter), std::string(256 << 10, 'n'), false});
    const std::string corrupt = "CORRUPT-ME-PAYLOAD-0123456789";
    entries.push_back({nameInLane(0, &counter), corrupt, true});
    for (int i = 0; i < 30; ++i) entries.push_back({nameInLane(1, &counter), "new", true});
    ASSERT_TRUE(writeZipArchive("fail.zip", entries));
    std::string bytes = readWholeFile(folder.file("fail.zip"));
    size_t at = bytes.find(corrupt);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 3] ^= 0x20;
    writeWholeFile(folder.file("fail.zip"), bytes);
    auto native = [&](const ZipTestEntry& entry) { return folder.file("f\\" + entry.name.substr(2)); };
    CreateDirectoryA(folder.file("f").c_str(), nullptr);
    for (size_t i = 40; i < entries.size(); ++i) writeWholeFile(native(entries[i]), "old");
    std::vector<HANDLE> holders;
    for (size_t i = 41; i < entries.size(); ++i)
        holders.push_back(holdWithoutSharing(native(entries[i])));
    Extraction e = extract("fail.zip");
    for (HANDLE holder : holders) CloseHandle(holder);
    EXPECT_EQ(e.result, kExtractFailed);
    EXPECT_EQ(e.message, "Extracting fail.zip - error in reading zip file");
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(readWholeFile(native(entries[i])), i < 40 ? entries[i].data : "old") << entries[i].name;
        EXPECT_FALSE(partFileExists(native(entries[i]))) << entries[i].name;
    }
}

std::string rawDeflate(const std::string& data) {
    z_stream z = {};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// An entry whose data ends before the size the central directory states reads as a short file to
// minizip, which then skips the checksum: stored bytes cut short, and a deflate stream that ends
// early. Neither may replace the game file, nor leave a part file; the entry before stays.
TEST(ZipExtract, EntryDataShorterThanItsDeclaredSizeIsNeverInstalled) {
    TempFolder folder;
    const std::string whole = "the whole file, as the checksum and the size say";
    const std::vector<RawZipEntry> cases = {
        rawPackedEntry("game.dat", whole, 0, whole.substr(0, 20)),
        rawPackedEntry("game.dat", whole, 8, rawDeflate(whole.substr(0, 20)), static_cast<int64_t>(whole.size())),
    };
    for (const RawZipEntry& shortEntry : cases) {
        SCOPED_TRACE(shortEntry.method);
        writeWholeFile(folder.file("game.dat"), "old game data");
        writeWholeFile(folder.file("short.zip"), writeRawZip({{"first.txt", "first"}, shortEntry}));
        Extraction e = extract("short.zip");
        EXPECT_EQ(e.result, kExtractFailed);
        EXPECT_EQ(e.message, "Extracting short.zip - error in reading zip file");
        EXPECT_EQ(readWholeFile(folder.file("first.txt")), "first");
        EXPECT_EQ(readWholeFile(folder.file("game.dat")), "old game data");
        EXPECT_FALSE(partFileExists(folder.file("game.dat")));
    }
}

// minizip reads an entry of another method as its raw bytes and an encrypted one as cipher text; the
// archive is refused before any entry, even a good one before it, is written, naming the method.
TEST(ZipExtract, OtherMethodsAndEncryptedEntriesAreRefusedBeforeAnythingIsWritten) {
    TempFolder folder;
    struct Case {
        RawZipEntry entry;
        const char* subMessage;
    };
    const Case cases[] = {
        {rawPackedEntry("vimrc", "set nocompatible", 12, "BZh91AY&SY packed bytes"),
         "compression method 12 (bzip2) of vimrc is not supported"},
        {rawPackedEntry("big.bin", "data", 9, "deflate64 bytes"), "compression method 9 (deflate64) of big.bin is not supported"},
        {rawPackedEntry("secret.txt", "secret", 0, "secret", -1, 1), "encrypted entry secret.txt is not supported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subMessage);
        writeWholeFile(folder.file("m.zip"), writeRawZip({{"first.txt", "first"}, c.entry, {"last.txt", "last"}}));
        Extraction e = extract("m.zip");
        EXPECT_EQ(e.result, kExtractFailed);
        EXPECT_EQ(e.message, std::string("Extracting m.zip - ") + c.subMessage);
        EXPECT_FALSE(exists(folder.file("first.txt")));
        EXPECT_FALSE(exists(folder.file(c.entry.name)));
        EXPECT_FALSE(exists(folder.file("last.txt")));
    }
}

// Zip writers without zip64 (minizip 1.1 among them) write the count 0xFFFF for 65,535 entries or
// more; the directory's size says how many there are, and the last one must be unpacked too. A count
// that disagrees with the directory otherwise is a broken archive: refused, nothing written.
TEST(ZipExtract, EntriesBeyondTheSixteenBitCountAreUnpackedAndAWrongCountIsRefused) {
    TempFolder folder;
    std::vector<RawZipEntry> entries(65536, RawZipEntry{"d/", ""});
    entries.push_back({"last.txt", "the 65,537th entry"});
    RawZipLayout overflowed;
    overflowed.endCount = 0xffff;
    writeWholeFile(folder.file("many.zip"), writeRawZip(entries, overflowed));
    Extraction e = extract("many.zip");
    EXPECT_EQ(e.result, kExtractDone) << e.message;
    EXPECT_EQ(readWholeFile(folder.file("last.txt")), "the 65,537th entry");
    // Making the entries durable walks the same directory: minizip's own walk of a 0xFFFF count runs
    // past the last record, and the step would never be recorded. (Under Wine the volume cannot be
    // flushed, so this is the walk that flushes each entry's file.)
    EXPECT_TRUE(makeUnpackedEntriesDurable("many.zip"));

    RawZipLayout miscounted;
    miscounted.endCount = 2;
    writeWholeFile(folder.file("count.zip"), writeRawZip({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}}, miscounted));
    e = extract("count.zip");
    EXPECT_EQ(e.result, kExtractFailed);
    EXPECT_EQ(e.message, "Extracting count.zip - error in reading zip file");
    EXPECT_FALSE(exists(folder.file("a.txt")));
}

// A name flagged UTF-8 is written with its characters, not read through the ANSI code page, and is
// held to the same path rule: devices (also COM with a superscript digit) and malformed UTF-8, whose
// overlong forms could hide "..", are refused.
TEST(ZipExtract, NamesFlaggedUtf8AreWrittenWithTheirCharacters) {
    TempFolder folder;
    const std::string world = "\xe4\xb8\x96\xe7\x95\x8c";  // two CJK characters in UTF-8
    writeWholeFile(folder.file("utf8.zip"), writeRawZip({rawPackedEntry(world + "/" + world + ".txt", "hello", 0,
                                                                        "hello", -1, kZipFlagUtf8Name)}));
    Extraction e = extract("utf8.zip");
    EXPECT_EQ(e.result, kExtractDone) << e.message;
    const std::wstring wide = std::wstring(folder.path().begin(), folder.path().end()) + L"\\\u4e16\u754c";
    EXPECT_NE(GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    HANDLE file = CreateFileW((wide + L"\\\u4e16\u754c.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_FALSE(exists(folder.file("\xc3\xa4\xc2\xb8\xe2\x80\x93\xc3\xa7\xe2\x80\xa2\xc5\x92")));
    // The status line (ANSI) shows the name as the code page has it, not as UTF-8 bytes.
    writeWholeFile(folder.file("latin.zip"),
                   writeRawZip({rawPackedEntry("caf\xc3\xa9.txt", "menu", 0, "menu", -1, kZipFlagUtf8Name)}));
    e = extract("latin.zip");
    EXPECT_EQ(e.result, kExtractDone) << e.message;
    char shown[32] = {};
    ASSERT_NE(WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9.txt", -1, shown, sizeof shown, nullptr, nullptr), 0);
    EXPECT_EQ(e.message, std::string("Extracting latin.zip - ") + shown);
    EXPECT_NE(GetFileAttributesW((std::wstring(folder.path().begin(), folder.path().end()) + L"\\caf\u00e9.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);

    for (const char* refused : {"COM\xc2\xb9.txt", "\xc0\xae\xc0\xae/up.txt", "bad\xff.txt"}) {
        SCOPED_TRACE(refused);
        writeWholeFile(folder.file("bad.zip"), writeRawZip({rawPackedEntry(refused, "x", 0, "x", -1, kZipFlagUtf8Name)}));
        e = extract("bad.zip");
        EXPECT_EQ(e.result, kExtractFailed);
        EXPECT_EQ(e.message, std::string("Extracting bad.zip - can't create extracted file ") + refused);
    }
}

// An 8.3 short name is a second name of a long-named file. Two lanes that took the long and the
// short name apart would write them side by side, and the earlier (large) entry could end last; the
// later entry must win, as it does in archive order.
TEST(ZipExtract, ShortNameOfAnotherEntryIsWrittenInArchiveOrder) {
    TempFolder folder;
    std::string longName, shortName;
    for (int i = 0; shortName.empty() || unpackLaneOf(longName.c_str(), kUnpackLanes) ==
                                             unpackLaneOf(shortName.c_str(), kUnpackLanes); ++i) {
        longName = "Localization" + std::to_string(i) + ".dat";
        writeWholeFile(folder.file(longName), "");
        char shortPath[MAX_PATH] = {};
        ASSERT_NE(GetShortPathNameA(longName.c_str(), shortPath, sizeof shortPath), 0u);
        shortName = shortPath;
        DeleteFileA(longName.c_str());
        if (shortName == longName) GTEST_SKIP() << "this volume makes no 8.3 short names";
    }
    writeWholeFile(folder.file(longName), "old");
    std::vector<ZipTestEntry> entries;
    for (int i = 0; i < 64; ++i) entries.push_back({"fill/f" + std::to_string(i) + ".dat", "fill", true});
    entries.push_back({longName, std::string(4 << 20, 'L'), false});
    entries.push_back({shortName, "later, by the short name", true});
    ASSERT_TRUE(writeZipArchive("alias.zip", entries));
    Extraction e = extract("alias.zip");
    EXPECT_EQ(e.result, kExtractDone) << e.message;
    EXPECT_EQ(readWholeFile(folder.file(longName)), "later, by the short name");
}

// The folders an archive needs must be folders when it is done: a directory entry over an existing
// file, a file entry below a file, a file entry over a folder all fail for good, never as done.
TEST(ZipExtract, FoldersThatCannotBeMadeFailTheArchive) {
    TempFolder folder;
    writeWholeFile(folder.file("Xdir"), "a file");
    ASSERT_TRUE(writeZipArchive("dir.zip", {{"Xdir/", "", true}}));
    Extraction e = extract("dir.zip");
    EXPECT_EQ(e.result, kExtractFailed);
    EXPECT_EQ(e.message, "Extracting dir.zip - can't create extracted file Xdir/");

    ASSERT_TRUE(writeZipArchive("below.zip", {{"Xdir/inner.txt", "inner", true}}));
    EXPECT_EQ(extract("below.zip").result, kExtractFailed);
    EXPECT_EQ(readWholeFile(folder.file("Xdir")), "a file");

    CreateDirectoryA(folder.file("Ydir").c_str(), nullptr);
    ASSERT_TRUE(writeZipArchive("over.zip", {{"Ydir", "a file where a folder is", true}}));
    e = extract("over.zip");
    EXPECT_EQ(e.result, kExtractFailed);
    EXPECT_EQ(e.message, "Extracting over.zip - can't create extracted file Ydir");
    EXPECT_TRUE(isDirectory(folder.file("Ydir")));
    EXPECT_FALSE(partFileExists(folder.file("Ydir")));
}

}  // namespace
