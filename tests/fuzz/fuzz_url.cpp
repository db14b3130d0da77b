// Fuzzes URL splitting: an accepted URL must give back a terminated, non-empty host without
// separators, a port in range and an object that is the URL's own tail.
#include "fuzz_support.h"
#include "network/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> url = zeroTerminatedCopy(data, size);
    UrlParts parts;
    if (!splitUrl(url.data(), &parts)) return 0;
    FUZZ_CHECK(isTerminated(parts.host, sizeof parts.host));
    FUZZ_CHECK(parts.host[0] != '\0');
    FUZZ_CHECK(strpbrk(parts.host, "/@") == nullptr);
    FUZZ_CHECK(parts.port >= 0 && parts.port <= 65535);
    FUZZ_CHECK(parts.object != nullptr);
    size_t textLength = strlen(url.data());
    if (parts.object[0] != '\0') {
        FUZZ_CHECK(parts.object[0] == '/');
        FUZZ_CHECK(parts.object > url.data() && parts.object < url.data() + textLength);
    }
    FUZZ_CHECK(strstr(url.data(), parts.host) != nullptr);
    return 0;
}
