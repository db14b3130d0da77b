// Making the payloads of the delta list on the publishing host (Debian's libzstd): a "delta" is one zstd
// frame that decodes with the base file as its reference prefix, a "whole" one a plain frame. Every
// payload is decoded again here before it may be published.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<uint8_t> DeltaBytes;

// The launcher's memory budget per rebuilt file, base and target together: the 32-bit launcher holds
// both while it applies a delta.
const uint64_t kDeltaMemoryCap = 512ull << 20;

// A frame of `target` referencing `base` (nullptr: a plain frame of the target alone). false with
// *error set when zstd refuses.
bool makePayload(const DeltaBytes* base, const DeltaBytes& target, DeltaBytes* payload, std::string* error);

// Decodes `payload` (with `base` as its prefix, or none) and checks that it yields exactly `target`'s
// bytes; false with *error naming what differs.
bool payloadRebuilds(const DeltaBytes* base, const DeltaBytes& payload, const DeltaBytes& target, std::string* error);

// Decodes `payload` into *output; false when it is not a single frame that decodes whole.
bool decodePayload(const DeltaBytes* base, const DeltaBytes& payload, DeltaBytes* output, std::string* error);
