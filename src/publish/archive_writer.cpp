// minizip's writer over a trial deflate: each file is first deflated into a scratch file, and its
// compressed bytes go into the archive raw only when they are clearly smaller than the file; otherwise
// the file is stored. Archives of already compressed game data then cost no inflate time on the player.
#include "publish/archive_writer.h"

#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archives/zip_directory.h"
#include "archives/zip_records.h"

namespace {

enum { kChunkSize = 1 << 16, kNameBufferSize = 1024, kRawDeflateWindowBits = -MAX_WBITS, kDeflateMemLevel = 8 };
// Deflate must save at least 1/32 of the bytes to be worth inflating on every player's machine.
const int kWorthwhileShift = 5;
const unsigned long long kZip64Threshold = 0xffffffffull;
// General-purpose flag bit 11: the name is UTF-8. Set only for names beyond ASCII, so archives of
// ASCII names stay byte for byte what they were.
const uLong kUtf8NameFlag = 1 << 11;
const uLong kVersionMadeBy = 0;  // what zipOpenNewFileInZip2_64 writes

bool hasNonAsciiByte(const std::string& name) {
    for (unsigned char c : name)
        if (c >= 0x80) return true;
    return false;
}

// The end records, as the zip format lays them out. minizip writes the zip64 ones only for an
// archive of 4 GiB or more; with more entries than the classic record's 16-bit count holds it writes
// 0xffff there and nothing else, and a reader stops after 65,535 entries.
using namespace zip_record;
// Signed, as file sizes and pread's results are.
const off_t kEndRecordBytes = kEndRecordSize;
const off_t kZip64LocatorBytes = kZip64LocatorSize;
enum : uint32_t {
    kZip64RecordBodySize = kZip64EndRecordSize - 12,
    kZip64Version = 45,
    kEndCountOffset = 10,
    kEndDirectorySizeOffset = 12,
    kEndDirectoryOffsetOffset = 16,
    kMaxReportedEntries = 10,
};

void putLe(std::vector<unsigned char>* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

uint64_t getLe(const unsigned char* in, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
    return value;
}

struct TrialDeflate {
    FILE* scratch;
    unsigned long long size;
    unsigned long long compressedSize;
    uLong crc;
};

// Deflates the whole file into trial->scratch, counting both sizes and the CRC as zip needs them.
bool deflateIntoScratch(FILE* in, TrialDeflate* trial) {
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawDeflateWindowBits, kDeflateMemLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    std::vector<unsigned char> input(kChunkSize), output(kChunkSize);
    trial->size = trial->compressedSize = 0;
    trial->crc = crc32(0, Z_NULL, 0);
    bool ok = true;
    int flush = Z_NO_FLUSH;
    while (ok && flush != Z_FINISH) {
        size_t count = fread(input.data(), 1, input.size(), in);
        if (ferror(in)) ok = false;
        flush = feof(in) ? Z_FINISH : Z_NO_FLUSH;
        trial->crc = crc32(trial->crc, input.data(), static_cast<uInt>(count));
        trial->size += count;
        stream.next_in = input.data();
        stream.avail_in = static_cast<uInt>(count);
        do {
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            deflate(&stream, flush);
            size_t produced = output.size() - stream.avail_out;
            if (fwrite(output.data(), 1, produced, trial->scratch) != produced) ok = false;
            trial->compressedSize += produced;
        } while (ok && stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return ok && fflush(trial->scratch) == 0;
}

bool copyInto(zipFile archive, FILE* from) {
    std::vector<unsigned char> chunk(kChunkSize);
    size_t count = 0;
    while ((count = fread(chunk.data(), 1, chunk.size(), from)) > 0)
        if (zipWriteInFileInZip(archive, chunk.data(), static_cast<unsigned>(count)) != ZIP_OK) return false;
    return !ferror(from);
}

zip_fileinfo entryInfo(const std::string& path) {
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    struct stat status;
    time_t modified = stat(path.c_str(), &status) == 0 ? status.st_mtime : time(nullptr);
    struct tm local;
    localtime_r(&modified, &local);
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    return info;
}

bool openEntry(zipFile archive, const std::string& name, const zip_fileinfo& info, int method, int raw,
               unsigned long long size) {
    int zip64 = size >= kZip64Threshold ? 1 : 0;
    int level = method == Z_DEFLATED ? Z_DEFAULT_COMPRESSION : 0;
    uLong flags = hasNonAsciiByte(name) ? kUtf8NameFlag : 0;
    return zipOpenNewFileInZip4_64(archive, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, level, raw,
                                   -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy,
                                   flags, zip64) == ZIP_OK;
}

bool addFile(zipFile archive, const std::string& name, const std::string& path, std::string* error) {
    FILE* in = fopen(path.c_str(), "rb");
    FILE* scratch = tmpfile();
    TrialDeflate trial{scratch, 0, 0, 0};
    bool ok = in != nullptr && scratch != nullptr && deflateIntoScratch(in, &trial);
    bool pays = ok && trial.compressedSize + (trial.size >> kWorthwhileShift) < trial.size;
    zip_fileinfo info = entryInfo(path);
    if (ok && pays) {
        rewind(scratch);
        ok = openEntry(archive, name, info, Z_DEFLATED, 1, trial.size) && copyInto(archive, scratch) &&
             zipCloseFileInZipRaw64(archive, trial.size, trial.crc) == ZIP_OK;
    } else if (ok) {
        rewind(in);
        ok = openEntry(archive, name, info, 0, 0, trial.size) && copyInto(archive, in) &&
             zipCloseFileInZip(archive) == ZIP_OK;
    }
    if (in) fclose(in);
    if (scratch) fclose(scratch);
    if (!ok) *error = "cannot pack " + path;
    return ok;
}

bool addText(zipFile archive, const std::string& name, const std::string& text) {
    zip_fileinfo info = entryInfo("");
    return openEntry(archive, name, info, 0, 0, text.size()) &&
           zipWriteInFileInZip(archive, text.data(), static_cast<unsigned>(text.size())) == ZIP_OK &&
           zipCloseFileInZip(archive) == ZIP_OK;
}

// True when a zip64 end record locator lies right before the classic end record at the file's end
// (no archive comment follows it, as this writer makes them).
bool hasZip64Locator(int fd, off_t fileSize) {
    unsigned char locator[kZip64LocatorSize];
    return fileSize >= kEndRecordBytes + kZip64LocatorBytes &&
           pread(fd, locator, sizeof locator, fileSize - kEndRecordBytes - kZip64LocatorBytes) == kZip64LocatorBytes &&
           getLe(locator, 4) == kZip64LocatorSignature;
}

// Inserts a zip64 end record and its locator before the classic end record minizip wrote last (no
// archive comment follows it), so every reader finds the true entry count.
bool addZip64EndRecords(const std::string& zipPath, uint64_t entryCount, std::string* error) {
    int fd = open(zipPath.c_str(), O_RDWR);
    struct stat status;
    unsigned char end[kEndRecordSize];
    bool ok = fd >= 0 && fstat(fd, &status) == 0 && status.st_size >= kEndRecordBytes &&
              pread(fd, end, sizeof end, status.st_size - kEndRecordBytes) == kEndRecordBytes &&
              getLe(end, 4) == kEndSignature;
    // An archive of 4 GiB or more already has them.
    bool hasZip64 = ok && hasZip64Locator(fd, status.st_size);
    if (ok && !hasZip64) {
        uint64_t directorySize = getLe(end + kEndDirectorySizeOffset, 4);
        uint64_t directoryOffset = getLe(end + kEndDirectoryOffsetOffset, 4);
        uint64_t zip64EndPosition = static_cast<uint64_t>(status.st_size) - kEndRecordSize;
        std::vector<unsigned char> tail;
        putLe(&tail, kZip64EndSignature, 4);
        putLe(&tail, kZip64RecordBodySize, 8);
        putLe(&tail, kZip64Version, 2);  // made by
        putLe(&tail, kZip64Version, 2);  // needed
        putLe(&tail, 0, 4);              // this disk
        putLe(&tail, 0, 4);              // the directory's disk
        putLe(&tail, entryCount, 8);     // on this disk
        putLe(&tail, entryCount, 8);     // in all
        putLe(&tail, directorySize, 8);
        putLe(&tail, directoryOffset, 8);
        putLe(&tail, kZip64LocatorSignature, 4);
        putLe(&tail, 0, 4);  // the zip64 end record's disk
        putLe(&tail, zip64EndPosition, 8);
        putLe(&tail, 1, 4);  // disks in all
        tail.insert(tail.end(), end, end + kEndRecordSize);
        ok = pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(zip64EndPosition)) ==
                 static_cast<ssize_t>(tail.size()) &&
             fsync(fd) == 0;
    }
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (!ok) *error = "cannot add the zip64 end records to " + zipPath;
    return ok;
}

bool readAtFile(void* context, uint64_t offset, void* buffer, size_t size) {
    int fd = *static_cast<int*>(context);
    return pread(fd, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// How many entries every launcher, deployed ones included, finds and so unpacks.
bool launcherEntryCount(const std::string& zipPath, uint64_t* count) {
    int fd = open(zipPath.c_str(), O_RDONLY);
    struct stat status;
    if (fd < 0) return false;
    std::vector<ZipEntryRegion> regions;
    bool ok = fstat(fd, &status) == 0 &&
              readZipDirectory(ZipSource{readAtFile, &fd, static_cast<uint64_t>(status.st_size)}, &regions) ==
                  kZipDirectoryRead;
    *count = regions.size();
    // Launchers deployed before the directory was walked by its size stop at the 16-bit count; only a
    // zip64 record tells them the rest.
    if (ok && *count >= kClassicCountLimit && !hasZip64Locator(fd, status.st_size)) *count = kClassicCountLimit;
    close(fd);
    return ok;
}

// Inflates the current entry whole; minizip checks the CRC when the entry is closed.
std::string checkCurrentEntry(unzFile archive, std::vector<unsigned char>* buffer) {
    unz_file_info64 info;
    char name[kNameBufferSize];
    if (unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
        return "an entry's information cannot be read";
    if (unzOpenCurrentFile(archive) != UNZ_OK) return std::string(name) + ": its data cannot be opened";
    unsigned long long total = 0;
    int read = 0;
    while ((read = unzReadCurrentFile(archive, buffer->data(), static_cast<unsigned>(buffer->size()))) > 0)
        total += static_cast<unsigned>(read);
    int closed = unzCloseCurrentFile(archive);
    if (read < 0) return std::string(name) + ": its data does not inflate";
    if (total != info.uncompressed_size)
        return std::string(name) + ": inflates to " + std::to_string(total) + " bytes, not the recorded " +
               std::to_string(info.uncompressed_size);
    if (closed == UNZ_CRCERROR) return std::string(name) + ": its CRC does not match its data";
    return closed == UNZ_OK ? std::string() : std::string(name) + ": cannot be closed";
}

// The current entry's information and, when `data` is given, its inflated bytes (CRC checked on close).
bool readCurrentEntry(unzFile archive, ArchiveEntryInfo* entry, std::vector<uint8_t>* data) {
    unz_file_info64 info;
    char name[kNameBufferSize];
    if (unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    entry->name = name;
    entry->size = info.uncompressed_size;
    entry->packedSize = info.compressed_size;
    if (data == nullptr) return true;
    data->resize(info.uncompressed_size);
    if (unzOpenCurrentFile(archive) != UNZ_OK) return false;
    size_t at = 0;
    int read = 0;
    while (at < data->size() && (read = unzReadCurrentFile(archive, data->data() + at,
                                                           static_cast<unsigned>(std::min<size_t>(data->size() - at, 1u << 30)))) > 0)
        at += static_cast<size_t>(read);
    // minizip checks the CRC on closing once the recorded size has been read.
    return unzCloseCurrentFile(archive) == UNZ_OK && read >= 0 && at == data->size();
}

}  // namespace

bool readArchiveEntries(const std::string& zipPath, bool withData,
                        const std::function<void(const ArchiveEntryInfo&, const std::vector<uint8_t>&)>& visit) {
    unzFile archive = unzOpen64(zipPath.c_str());
    if (archive == nullptr) return false;
    std::vector<uint8_t> data;
    ArchiveEntryInfo entry;
    bool ok = true;
    int at = unzGoToFirstFile(archive);
    for (; ok && at == UNZ_OK; at = unzGoToNextFile(archive)) {
        ok = readCurrentEntry(archive, &entry, withData ? &data : nullptr);
        if (ok) visit(entry, data);
    }
    unzClose(archive);
    return ok && at == UNZ_END_OF_LIST_OF_FILE;
}

bool readArchiveEntry(const std::string& zipPath, const std::string& name, std::vector<uint8_t>* data) {
    unzFile archive = unzOpen64(zipPath.c_str());
    if (archive == nullptr) return false;
    ArchiveEntryInfo entry;
    bool ok = unzLocateFile(archive, name.c_str(), 1) == UNZ_OK && readCurrentEntry(archive, &entry, data);
    unzClose(archive);
    return ok;
}

std::vector<std::string> checkReleaseArchive(const std::string& zipPath) {
    std::vector<std::string> problems;
    uint64_t launcherCount = 0;
    unzFile archive = unzOpen64(zipPath.c_str());
    if (archive == nullptr || !launcherEntryCount(zipPath, &launcherCount)) {
        if (archive != nullptr) unzClose(archive);
        problems.push_back("not a zip archive the launcher can open");
        return problems;
    }
    std::vector<unsigned char> buffer(kChunkSize);
    uint64_t walked = 0;
    // minizip walks a directory whose count reads 0xffff to its end, so this counts every record.
    for (int at = unzGoToFirstFile(archive); at == UNZ_OK; at = unzGoToNextFile(archive)) {
        ++walked;
        std::string problem = checkCurrentEntry(archive, &buffer);
        if (!problem.empty() && problems.size() < kMaxReportedEntries) problems.push_back(problem);
    }
    unzClose(archive);
    if (walked != launcherCount)
        problems.push_back("the launcher finds " + std::to_string(launcherCount) + " entries, the directory holds " +
                           std::to_string(walked));
    return problems;
}

bool writeReleaseArchive(const std::string& zipPath, const std::string& sourceRoot,
                         const std::vector<std::string>& files, const std::vector<std::string>& folders,
                         const std::string& deleteList, std::string* error) {
    zipFile archive = zipOpen64(zipPath.c_str(), APPEND_STATUS_CREATE);
    if (archive == nullptr) {
        *error = "cannot create " + zipPath;
        return false;
    }
    bool ok = true;
    for (const std::string& folder : folders) {
        if (!addText(archive, folder, "")) {
            *error = "cannot add the folder " + folder;
            ok = false;
            break;
        }
    }
    for (size_t i = 0; ok && i < files.size(); ++i) ok = addFile(archive, files[i], sourceRoot + "/" + files[i], error);
    // At the top of the archive, where the launcher looks for it once every entry is unpacked.
    if (ok && !deleteList.empty() && !addText(archive, "delete.txt", deleteList)) {
        *error = "cannot add the delete list";
        ok = false;
    }
    if (zipClose(archive, nullptr) != ZIP_OK && ok) {
        *error = "cannot finish " + zipPath;
        ok = false;
    }
    uint64_t entryCount = folders.size() + files.size() + (deleteList.empty() ? 0 : 1);
    if (ok && entryCount >= kClassicCountLimit) ok = addZip64EndRecords(zipPath, entryCount, error);
    return ok;
}
