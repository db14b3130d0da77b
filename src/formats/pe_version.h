// The file version of a Windows executable, read from the bytes of its version resource
// (VS_FIXEDFILEINFO), so the publishing side can check a launcher before it ships without Windows.
// Free of Windows headers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "formats/version_text.h"

// true when the headers, the raw bytes of every section, the COFF symbols and the certificate all lie
// whole inside the bytes: a launcher cut short or damaged there cannot start, even when its version
// resource still reads.
bool isWholePeImage(const uint8_t* data, size_t size);

// false when the bytes are not a PE file with a version resource, or any offset leads outside them.
bool readPeFileVersion(const uint8_t* data, size_t size, VersionQuad* version);
