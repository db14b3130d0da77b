// The Content-Range header of a partial answer ("bytes <first>-<last>/<total>") and whether the part
// it announces completes a file of which some bytes are already held. Free of Windows headers: the
// text comes from the server.
#pragma once

struct ContentRange {
    long long first;
    long long last;   // inclusive
    long long total;  // the whole file's size
};

// Only the complete form with a known total, decimal digits without signs, and first <= last < total;
// anything else (a "*" total, a missing part, trailing words, numbers past 64 bits) is refused.
bool parseContentRange(const char* text, ContentRange* range);

// Whether a 206 with this range and a body of `bodyLength` bytes is the rest of the file: it starts at
// the `held` bytes, ends at the file's last byte, carries exactly that many bytes, and (when the
// whole size is known beforehand, as from a signed index; 0 or less otherwise) the total is that size.
bool rangeCompletesFile(const ContentRange& range, long long held, long long bodyLength, long long expectedSize);
