// Splits an http or https URL into the host, the port and the object that WinINet's connect and
// request calls take. Free of Windows headers so that it is tested natively too.
#pragma once

enum { kUrlHostSize = 256 };

struct UrlParts {
    char host[kUrlHostSize];
    int port;            // 0 when the URL names none: the scheme's default port applies
    const char* object;  // points into the URL: from the first "/" after the host, query included; "" when absent
};

// true when the URL has the form scheme "://" host [":" port] [object]. Refused: no "://", an empty or
// overlong host, user information ("user@host"), a port that is not a number from 1 to 65535.
bool splitUrl(const char* url, UrlParts* parts);
