// The read buffers of one extraction, owned by its caller (the update worker keeps them in its state
// record; tests and tools keep their own), so extraction holds no buffer of its own.
#pragma once

// An archive of many entries is unpacked by kUnpackLanes threads, each reading entry data through a
// buffer of its own.
enum { kUnzipBufferSize = 65536, kUnpackLanes = 2 };

struct UnpackBuffers {
    unsigned char lane[kUnpackLanes][kUnzipBufferSize];
};
