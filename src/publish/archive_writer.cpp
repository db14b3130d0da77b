// minizip's writer over a trial deflate: each file is first deflated into a scratch file, and its
// compressed bytes go into the archive raw only when they are clearly smaller than the file; otherwise
// the file is stored. Archives of already compressed game data then cost no inflate time on the player.
#include "publish/archive_writer.h"

#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <sys/stat.h>

namespace {

enum { kChunkSize = 1 << 16, kRawDeflateWindowBits = -MAX_WBITS, kDeflateMemLevel = 8 };
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

}  // namespace

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
    return ok;
}
