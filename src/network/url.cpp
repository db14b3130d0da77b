// URL splitting for the transfer module: the authority after "://" is cut into host and port, and the
// object is everything from the first "/" after it. "/", ":" and "@" are checked byte by byte.
#include "network/url.h"

#include <cstdio>
#include <cstring>

namespace {

// "/" and ":" lie below 0x40 and so are never the trail byte of a double-byte character in any
// Windows code page; a host holding "@" as a trail byte is refused, which errs on the safe side.
const char* findAuthorityEnd(const char* authority) {
    const char* end = authority;
    while (*end && *end != '/') ++end;
    return end;
}

bool readPort(const char* digits, const char* end, int* port) {
    if (digits == end || end - digits > 5) return false;
    int value = 0;
    for (const char* c = digits; c < end; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
    }
    if (value < 1 || value > 65535) return false;
    *port = value;
    return true;
}

}  // namespace

bool splitUrl(const char* url, UrlParts* parts) {
    parts->host[0] = '\0';
    parts->port = 0;
    parts->object = "";
    const char* schemeEnd = url ? strstr(url, "://") : nullptr;
    if (!schemeEnd || schemeEnd == url || memchr(url, '/', static_cast<size_t>(schemeEnd - url))) return false;
    const char* authority = schemeEnd + 3;
    const char* authorityEnd = findAuthorityEnd(authority);
    if (memchr(authority, '@', static_cast<size_t>(authorityEnd - authority))) return false;

    const char* colon = static_cast<const char*>(memchr(authority, ':', static_cast<size_t>(authorityEnd - authority)));
    const char* hostEnd = colon ? colon : authorityEnd;
    if (colon && !readPort(colon + 1, authorityEnd, &parts->port)) return false;
    size_t hostLength = static_cast<size_t>(hostEnd - authority);
    if (hostLength == 0 || hostLength >= sizeof parts->host) return false;

    snprintf(parts->host, sizeof parts->host, "%.*s", static_cast<int>(hostLength), authority);
    parts->object = authorityEnd;
    return true;
}
