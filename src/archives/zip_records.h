// The zip format's record signatures and fixed sizes, shared by the directory reader and the
// publisher's zip64 end-record writer so both speak of one layout. Free of Windows headers.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zip_record {
enum : uint32_t {
    kEndSignature = 0x06054b50,
    kZip64LocatorSignature = 0x07064b50,
    kZip64EndSignature = 0x06064b50,
    kCentralSignature = 0x02014b50,
};
enum : size_t {
    kEndRecordSize = 22,
    kZip64LocatorSize = 20,
    kZip64EndRecordSize = 56,
    kCentralRecordSize = 46,
    kLocalHeaderSize = 30,
};
// The classic end record's 16-bit entry count; a writer without zip64 records puts this there for any more.
const uint32_t kClassicCountLimit = 0xffff;
}  // namespace zip_record
