// Hostile patch archives against the real extraction: names that try to leave the launcher's folder,
// overlong and deep names, and zip bombs. After each, nothing may exist outside the folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "support/temp_folder.h"
#include "update/delete_list.h"
#include "archives/zip_extract.h"
#include "zip_test_archive.h"

namespace {

UnpackBuffers gBuffers;

// A temp folder holding the launcher's folder "game" and a decoy file beside it; the current
// directory is the launcher's folder, as for the worker.
class Sandbox {
public:
    Sandbox() {
        game_ = temp_.file("game");
        CreateDirectoryA(game_.c_str(), nullptr);
        writeWholeFile(temp_.file("victim.txt"), "outside");
        SetCurrentDirectoryA(game_.c_str());
        snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", game_.c_str());
    }
    ~Sandbox() { SetCurrentDirectoryA(temp_.path().c_str()); }

    const std::string& game() const { return game_; }
    const std::string& root() const { return temp_.path(); }
    std::string outside(const std::string& relative) const { return temp_.file(relative); }

    // Every file and folder of the temp folder that is not inside the launcher's folder.
    std::set<std::string> entriesOutsideGame() const {
        std::set<std::string> found;
        collect(temp_.path(), found);
        found.erase(game_);
        return found;
    }

    // Bytes of all files below the launcher's folder.
    long long bytesInGame() const { return bytesBelow(game_); }

private:
    void collect(const std::string& folder, std::set<std::string>& found) const {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = folder + "\\" + name;
            if (full == game_) {
                found.insert(full);
                continue;
            }
            found.insert(full);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) collect(full, found);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }

    static long long bytesBelow(const std::string& folder) {
        long long total = 0;
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return 0;
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                total += bytesBelow(folder + "\\" + name);
            } else {
                total += (static_cast<long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        return total;
    }

    TempFolder temp_;
    std::string game_;
};

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Extraction {
    int result;
    std::string message;
};

Extraction extract(const char* archive) {
    char message[kStatusTextSize] = {};
    int result = extractArchive(archive, message, sizeof message, &gBuffers, nullptr);
    return {result, message};
}

// Absolute places a name could reach from the launcher's folder on the current drive.
std::vector<std::string> absoluteDecoys() { return {"C:\\vyr_hostile_escape.txt", "\\vyr_hostile_escape.txt"}; }

struct HostileName {
    const char* label;
    std::string name;
};

std::vector<HostileName> namesLeavingTheFolder() {
    return {
        {"parent", "../escape.txt"},
        {"parent backslash", "..\\escape.txt"},
        {"parent inside", "sub/../../escape.txt"},
        {"parent dots and blanks", "sub/. ./. ./escape.txt"},
        {"three dots", ".../escape.txt"},
        {"drive absolute", "C:\\vyr_hostile_escape.txt"},
        {"drive relative", "C:vyr_hostile_escape.txt"},
        {"root", "/vyr_hostile_escape.txt"},
        {"root backslash", "\\vyr_hostile_escape.txt"},
        {"unc", "\\\\127.0.0.1\\c$\\vyr_hostile_escape.txt"},
        {"device namespace", "\\\\?\\C:\\vyr_hostile_escape.txt"},
        {"alternate stream", "escape.txt:evil"},
        {"device name", "sub/CON"},
    };
}

// Every hostile name is refused with a report, the folder keeps nothing of it, and the good entry
// before it (written first) is all that exists.
TEST(HostileArchive, NamesLeavingTheFolderAreRefusedAndNothingLandsOutside) {
    for (const HostileName& hostile : namesLeavingTheFolder()) {
        SCOPED_TRACE(hostile.label);
        Sandbox sandbox;
        ASSERT_TRUE(writeZipArchive("h.zip", {{"good.txt", "good", false}, {hostile.name, "evil", false}}));
        std::set<std::string> before = sandbox.entriesOutsideGame();
        Extraction e = extract("h.zip");
        EXPECT_EQ(e.result, 0);
        EXPECT_EQ(e.message.rfind("Extracting h.zip - ", 0), 0u) << e.message;
        EXPECT_NE(e.message.find("can't create extracted file"), std::string::npos) << e.message;
        EXPECT_EQ(sandbox.entriesOutsideGame(), before);
        EXPECT_EQ(readWholeFile(sandbox.outside("victim.txt")), "outside");
        EXPECT_FALSE(exists(sandbox.outside("escape.txt")));
        for (const std::string& decoy : absoluteDecoys()) EXPECT_FALSE(exists(decoy)) << decoy;
        EXPECT_EQ(readWholeFile(sandbox.game() + "\\good.txt"), "good");
        EXPECT_EQ(sandbox.bytesInGame(), static_cast<long long>(4 + readWholeFile("h.zip").size()));
    }
}

// 255 characters is the longest name the path check allows: it is either extracted under exactly
// that name or refused with a report; never written under a shortened name.
TEST(HostileArchive, NameOf255CharactersIsExtractedWholeOrRefused) {
    const std::string names[] = {std::string(251, 'a') + ".txt", "d1/d2/" + std::string(245, 'b') + ".txt"};
    for (const std::string& name : names) {
        ASSERT_EQ(name.size(), 255u);
        Sandbox sandbox;
        ASSERT_TRUE(writeZipArchive("long.zip", {{name, "payload", false}}));
        Extraction e = extract("long.zip");
        std::string path = sandbox.game() + "\\" + name;
        if (e.result == 1) {
            EXPECT_EQ(readWholeFile(path), "payload");
        } else {
            EXPECT_NE(e.message.find("can't create extracted file"), std::string::npos) << e.message;
        }
        EXPECT_EQ(sandbox.bytesInGame(), static_cast<long long>(readWholeFile("long.zip").size()) +
                                             (e.result == 1 ? 7 : 0));
    }
}

// Names of 256 characters and more, up to the format's limit, are refused; in particular the first
// 255 characters (here ending in ".exe") must not become a file of their own.
TEST(HostileArchive, NamesOf256CharactersAndMoreAreRefused) {
    const size_t lengths[] = {256, 260, 300, 1000, 4096, 65535};
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        Sandbox sandbox;
        std::string name = std::string(251, 'x') + ".exe";
        name += std::string(length - name.size(), 'y');
        ASSERT_TRUE(writeZipArchive("big.zip", {{name, "evil", false}}));
        Extraction e = extract("big.zip");
        EXPECT_EQ(e.result, 0);
        EXPECT_NE(e.message.find("can't create extracted file"), std::string::npos);
        EXPECT_LT(e.message.size(), static_cast<size_t>(kStatusTextSize));
        EXPECT_EQ(sandbox.bytesInGame(), static_cast<long long>(readWholeFile("big.zip").size()));
        EXPECT_TRUE(sandbox.entriesOutsideGame().count(sandbox.outside("victim.txt")));
    }
}

std::string nestedName(int levels) {
    std::string name;
    for (int level = 1; level <= levels; ++level) name += "l" + std::to_string(level) + "/";
    return name + "deep.txt";
}

// Sixteen folder levels are created; a seventeenth is not, and its file is reported as not created.
TEST(HostileArchive, SeventeenFolderLevelsStopAtSixteen) {
    Sandbox sandbox;
    ASSERT_TRUE(writeZipArchive("deep.zip", {{nestedName(16), "sixteen", false}, {nestedName(17), "seventeen", false}}));
    Extraction e = extract("deep.zip");
    EXPECT_EQ(e.result, 0);
    EXPECT_NE(e.message.find("can't create extracted file " + nestedName(17)), std::string::npos) << e.message;
    std::string folder = sandbox.game();
    for (int level = 1; level <= 16; ++level) folder += "\\l" + std::to_string(level);
    EXPECT_EQ(readWholeFile(folder + "\\deep.txt"), "sixteen");
    EXPECT_FALSE(exists(folder + "\\l17"));
}

// --- Zip bombs -------------------------------------------------------------------------------

// Raw deflate of `megabytes` MiB of zeros, with the CRC of the first `crcBytes` of them.
struct ZeroStream {
    std::string deflated;
    uint32_t crc;
};

ZeroStream deflateZeros(unsigned megabytes, uint64_t crcBytes) {
    z_stream z = {};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_RLE);
    std::vector<unsigned char> zeros(1 << 20, 0);
    std::vector<unsigned char> out(1 << 16);
    ZeroStream stream = {"", static_cast<uint32_t>(crc32(0, nullptr, 0))};
    for (unsigned mb = 0; mb < megabytes; ++mb) {
        if (crcBytes > static_cast<uint64_t>(mb) << 20) {
            uint64_t left = crcBytes - (static_cast<uint64_t>(mb) << 20);
            stream.crc = crc32(stream.crc, zeros.data(), static_cast<uInt>(left < zeros.size() ? left : zeros.size()));
        }
        z.next_in = zeros.data();
        z.avail_in = static_cast<uInt>(zeros.size());
        int flush = mb + 1 == megabytes ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            stream.deflated.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return stream;
}

void put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}
void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

// One local entry (deflated `stream`, declared `declaredSize` bytes) that `centralCount` central
// directory records all point at: the overlapping-entry bomb. Names are "bomb/NNNNNN.bin".
std::string bombArchive(const ZeroStream& stream, uint32_t declaredSize, int centralCount) {
    auto entryName = [](int index) {
        char name[32];
        snprintf(name, sizeof name, "bomb/%06d.bin", index);
        return std::string(name);
    };
    std::string zip;
    put32(zip, 0x04034b50);
    put16(zip, 20);
    put16(zip, 0);
    put16(zip, 8);
    put32(zip, 0);
    put32(zip, stream.crc);
    put32(zip, static_cast<uint32_t>(stream.deflated.size()));
    put32(zip, declaredSize);
    put16(zip, static_cast<uint32_t>(entryName(0).size()));
    put16(zip, 0);
    zip += entryName(0);
    zip += stream.deflated;
    uint32_t centralStart = static_cast<uint32_t>(zip.size());
    for (int i = 0; i < centralCount; ++i) {
        put32(zip, 0x02014b50);
        put16(zip, 20);
        put16(zip, 20);
        put16(zip, 0);
        put16(zip, 8);
        put32(zip, 0);
        put32(zip, stream.crc);
        put32(zip, static_cast<uint32_t>(stream.deflated.size()));
        put32(zip, declaredSize);
        put16(zip, static_cast<uint32_t>(entryName(i).size()));
        put16(zip, 0);
        put16(zip, 0);
        put16(zip, 0);
        put16(zip, 0);
        put32(zip, 0);
        put32(zip, 0);  // every record names the same local entry
        zip += entryName(i);
    }
    uint32_t centralSize = static_cast<uint32_t>(zip.size()) - centralStart;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<uint32_t>(centralCount));
    put16(zip, static_cast<uint32_t>(centralCount));
    put32(zip, centralSize);
    put32(zip, centralStart);
    put16(zip, 0);
    return zip;
}

struct BombRun {
    int result;
    std::string message;
};

struct BombWatch {
    const char* archive;
    BombRun run;
};

DWORD WINAPI extractOnThread(void* parameter) {
    BombWatch* watch = static_cast<BombWatch*>(parameter);
    char message[kStatusTextSize] = {};
    watch->run.result = extractArchive(watch->archive, message, sizeof message, &gBuffers, nullptr);
    watch->run.message = message;
    return 0;
}

// Runs the extraction on a thread and ends the whole test process when the launcher's folder grows
// beyond `budget` bytes: an extraction without a limit would otherwise fill the disk of the machine.
BombRun extractUnderWatch(const Sandbox& sandbox, const char* archive, long long budget) {
    BombWatch watch = {archive, {-1, ""}};
    HANDLE thread = CreateThread(nullptr, 0, extractOnThread, &watch, 0, nullptr);
    while (WaitForSingleObject(thread, 100) == WAIT_TIMEOUT) {
        long long written = sandbox.bytesInGame();
        if (written > budget) {
            fprintf(stderr, "zip bomb: %lld bytes written, over the budget of %lld; stopping the test process\n",
                    written, budget);
            fflush(stderr);
            // Stop the writer and close its file so that the sandbox can go before the process ends.
            TerminateThread(thread, 3);
            _fcloseall();
            SetCurrentDirectoryA(sandbox.root().c_str());
            TempFolder::removeTree(sandbox.game());
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    CloseHandle(thread);
    return watch.run;
}

// 4096 directory records over one entry of 1 GiB of zeros: about 1 MB that would inflate to 4 TiB.
// The archive's declared total exceeds any free disk, so it is refused before anything is written.
TEST(HostileArchive, OverlappingEntryBombIsRefusedBeforeWriting) {
    Sandbox sandbox;
    ZeroStream stream = deflateZeros(1024, 1ull << 30);
    std::string zip = bombArchive(stream, 1u << 30, 4096);
    ASSERT_LT(zip.size(), 4u << 20);
    writeWholeFile("bomb.zip", zip);
    long long archiveBytes = static_cast<long long>(zip.size());
    BombRun run = extractUnderWatch(sandbox, "bomb.zip", archiveBytes + (64 << 20));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.message.rfind("Extracting bomb.zip - ", 0), 0u) << run.message;
    EXPECT_EQ(sandbox.bytesInGame(), archiveBytes);
}

// An entry that declares 1 MiB but whose data inflates to 1 GiB: the output stops at the declared
// size (the first MiB matches the declared checksum, so the entry is complete at 1 MiB).
TEST(HostileArchive, OutputStopsAtTheDeclaredSize) {
    Sandbox sandbox;
    ZeroStream stream = deflateZeros(1024, 1u << 20);
    writeWholeFile("liar.zip", bombArchive(stream, 1u << 20, 1));
    long long archiveBytes = static_cast<long long>(readWholeFile("liar.zip").size());
    BombRun run = extractUnderWatch(sandbox, "liar.zip", archiveBytes + (64 << 20));
    EXPECT_EQ(run.result, 1) << run.message;
    EXPECT_EQ(readWholeFile(sandbox.game() + "\\bomb\\000000.bin"), std::string(1 << 20, '\0'));
}

// Entry "a.bin" owns bytes 0 to 51 by the central directory, but its local header declares an extra
// field that runs over those bytes and "b.bin"'s header, so that its data would be b.bin's first 16
// bytes: two entries reading one stream, which the directory alone cannot show.
std::string localExtraTrickArchive() {
    const std::string bData(64, 'B');
    const std::string aData = bData.substr(0, 16);
    const uint32_t aCrc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(aData.data()), 16));
    const uint32_t bCrc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bData.data()), 64));
    auto localHeader = [](std::string& zip, const char* name, uint32_t crc, uint32_t size, uint32_t extra) {
        put32(zip, 0x04034b50);
        put16(zip, 20);
        put16(zip, 0);
        put16(zip, 0);  // stored
        put32(zip, 0);
        put32(zip, crc);
        put32(zip, size);
        put32(zip, size);
        put16(zip, static_cast<uint32_t>(strlen(name)));
        put16(zip, extra);
        zip += name;
    };
    auto centralRecord = [](std::string& zip, const char* name, uint32_t crc, uint32_t size, uint32_t offset) {
        put32(zip, 0x02014b50);
        put16(zip, 20);
        put16(zip, 20);
        put16(zip, 0);
        put16(zip, 0);
        put32(zip, 0);
        put32(zip, crc);
        put32(zip, size);
        put32(zip, size);
        put16(zip, static_cast<uint32_t>(strlen(name)));
        for (int i = 0; i < 4; ++i) put16(zip, 0);
        put32(zip, 0);
        put32(zip, offset);
        zip += name;
    };
    std::string zip;
    localHeader(zip, "a.bin", aCrc, 16, 16 + 30 + 5);  // the extra field ends where b.bin's data starts
    zip += aData;
    uint32_t bOffset = static_cast<uint32_t>(zip.size());
    localHeader(zip, "b.bin", bCrc, 64, 0);
    zip += bData;
    uint32_t centralStart = static_cast<uint32_t>(zip.size());
    centralRecord(zip, "a.bin", aCrc, 16, 0);
    centralRecord(zip, "b.bin", bCrc, 64, bOffset);
    uint32_t centralSize = static_cast<uint32_t>(zip.size()) - centralStart;
    put32(zip, 0x06054b50);
    put32(zip, 0);
    put16(zip, 2);
    put16(zip, 2);
    put32(zip, centralSize);
    put32(zip, centralStart);
    put16(zip, 0);
    return zip;
}

TEST(HostileArchive, LocalHeaderPointingIntoAnotherEntryIsRefused) {
    Sandbox sandbox;
    writeWholeFile("trick.zip", localExtraTrickArchive());
    // minizip alone reads b.bin's bytes as a.bin's data, with a matching checksum.
    unzFile archive = unzOpen("trick.zip");
    ASSERT_NE(archive, nullptr);
    char data[32] = {};
    ASSERT_EQ(unzOpenCurrentFile(archive), UNZ_OK);
    EXPECT_EQ(unzReadCurrentFile(archive, data, sizeof data), 16);
    EXPECT_EQ(std::string(data), std::string(16, 'B'));
    EXPECT_EQ(unzCloseCurrentFile(archive), UNZ_OK);
    unzClose(archive);

    Extraction e = extract("trick.zip");
    EXPECT_EQ(e.result, kExtractFailed);
    EXPECT_EQ(e.message, "Extracting trick.zip - error in reading zip file");
    EXPECT_FALSE(exists(sandbox.game() + "\\a.bin"));
    EXPECT_FALSE(exists(sandbox.game() + "\\a.bin" + kPartFileSuffix));
}

// The delete list is held to the same rule: lines that name files outside the folder are skipped,
// files inside are deleted, and the list itself goes.
TEST(HostileArchive, DeleteListCannotReachOutside) {
    Sandbox sandbox;
    writeWholeFile("inside.txt", "x");
    std::string list = "..\\victim.txt\n../victim.txt\n" + sandbox.outside("victim.txt") + "\n" +
                       "sub\\..\\..\\victim.txt\n" + std::string(300, 'v') + "\ninside.txt\n";
    writeWholeFile("delete.txt", list);
    applyDeleteList();
    EXPECT_EQ(readWholeFile(sandbox.outside("victim.txt")), "outside");
    EXPECT_FALSE(exists(sandbox.game() + "\\inside.txt"));
    EXPECT_FALSE(exists(sandbox.game() + "\\delete.txt"));
}

}  // namespace
