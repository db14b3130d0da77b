// Fuzzes the one name check that guards manifest file names, zip entries and delete-list lines,
// against an independent model of how Windows resolves a relative path; plus the worker's
// archive-name and progress arithmetic on the same bytes.
#include <cctype>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "update/patch_progress.h"
#include "formats/path_check.h"

namespace {

// Windows drops trailing dots and blanks of a path part, so "..", ". ." and "... " all climb.
std::string windowsPartName(const std::string& part) {
    size_t end = part.size();
    while (end > 0 && (part[end - 1] == '.' || part[end - 1] == ' ')) --end;
    return part.substr(0, end);
}

// The depth below the folder the name reaches at its lowest point; -1 or less means it left.
int lowestDepth(const char* name) {
    int depth = 0;
    int lowest = 0;
    std::string part;
    for (const char* c = name;; ++c) {
        if (*c == '/' || *c == '\\' || *c == '\0') {
            if (!part.empty()) {
                bool climbs = windowsPartName(part).empty() && part.find("..") != std::string::npos;
                bool stays = windowsPartName(part).empty() && !climbs;
                depth += climbs ? -1 : (stays ? 0 : 1);
                if (depth < lowest) lowest = depth;
            }
            part.clear();
            if (*c == '\0') break;
        } else {
            part += *c;
        }
    }
    return lowest;
}

// Windows' own device test on one part: the text before the first dot, without trailing blanks and
// dots, in upper case.
bool namesDevice(const std::string& part) {
    std::string base = windowsPartName(part.substr(0, part.find('.')));
    for (char& c : base) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM9", "LPT1", "LPT9",
                                          "COM\xb9", "LPT\xb3", "COM\xc2\xb2"};
    for (const char* device : devices)
        if (base == device) return true;
    return false;
}

void checkNoDevicePart(const char* name) {
    std::string part;
    for (const char* c = name;; ++c) {
        if (*c == '/' || *c == '\\' || *c == '\0') {
            FUZZ_CHECK(!namesDevice(part));
            part.clear();
            if (*c == '\0') break;
        } else {
            part += *c;
        }
    }
}

// Bytes that never occur in well-formed UTF-8.
void checkUtf8(const char* name) {
    if (!isValidUtf8(name)) return;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
        FUZZ_CHECK(*c != 0xc0 && *c != 0xc1 && *c < 0xf5);
}

void checkAcceptedName(const char* name) {
    size_t length = strlen(name);
    FUZZ_CHECK(length >= 1 && length <= kMaxSafePathLength);
    FUZZ_CHECK(name[0] != '/' && name[0] != '\\');
    FUZZ_CHECK(strchr(name, ':') == nullptr);  // drive letters and alternate streams
    FUZZ_CHECK(lowestDepth(name) >= 0);
    for (const char* c = name; *c; ++c) FUZZ_CHECK(static_cast<unsigned char>(*c) >= 0x20);
    checkNoDevicePart(name);
}

void checkProgress(const uint8_t* data, size_t size) {
    if (size < 16) return;
    long long received = 0;
    long long fileSize = 0;
    memcpy(&received, data, 8);
    memcpy(&fileSize, data + 8, 8);
    int percent = filePercent(received, fileSize, 42);
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    if (fileSize <= 0) FUZZ_CHECK(percent == 42);
    int done = static_cast<int>(received & 0xffff);
    int total = static_cast<int>(fileSize & 0xffff);
    int totalDone = totalPercent(done <= total ? done : total, total);
    FUZZ_CHECK(totalDone >= 0 && totalDone <= 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> name = zeroTerminatedCopy(data, size);
    if (isSafeRelativePath(name.data())) checkAcceptedName(name.data());
    checkUtf8(name.data());
    bool archive = isArchiveName(name.data());
    size_t length = strlen(name.data());
    if (archive) FUZZ_CHECK(length > 3);
    checkProgress(data, size);
    return 0;
}
