// Fuzzes what reaches the support log: a reduced URL keeps no query, fragment or user information
// and is a cut of the URL's own text; a line built from any text is one line within its bound.
#include <string>

#include "fuzz_support.h"
#include "logging/log_line.h"

namespace {

void checkReducedUrl(const char* url) {
    char reduced[kLogUrlFieldSize];
    memset(reduced, 'x', sizeof reduced);
    reduceUrlForLog(url, reduced, sizeof reduced);
    FUZZ_CHECK(isTerminated(reduced, sizeof reduced));
    FUZZ_CHECK(strpbrk(reduced, "?#") == nullptr);
    const char* scheme = strstr(reduced, "://");
    if (scheme != nullptr) {
        const char* authority = scheme + 3;
        FUZZ_CHECK(memchr(authority, '@', strcspn(authority, "/")) == nullptr);
    }
    // Nothing is made up: what is kept after the scheme appears in the URL as it came.
    FUZZ_CHECK(strstr(url, scheme != nullptr ? scheme + 3 : reduced) != nullptr);
}

void checkLine(const char* text) {
    LogEvent event = logEvent(kLogFile);
    event.url = text;
    event.name = text;
    event.message = text;
    event.httpStatus = 200;
    event.bytes = static_cast<long long>(strlen(text));
    char line[kLogLineSize];
    size_t length = formatLogLine(LogTime{2026, 1, 2, 3, 4, 5, 6}, text, 7, event, line, sizeof line);
    FUZZ_CHECK(length == strlen(line));
    FUZZ_CHECK(length > 0 && length < sizeof line);
    FUZZ_CHECK(line[length - 1] == '\n');
    FUZZ_CHECK(memchr(line, '\n', length - 1) == nullptr);
    FUZZ_CHECK(memchr(line, '\r', length) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text = zeroTerminatedCopy(data, size);
    checkReducedUrl(text.data());
    checkLine(text.data());
    return 0;
}
