#pragma once
// Where the fields of a local file header lie, counted from its signature.
// The name and then the extra field follow the fixed part. Every reader and
// writer of local headers takes the offsets from here.
namespace ZipLocalHeader {
constexpr unsigned kSignature = 0;
constexpr unsigned kVersionNeeded = 4;
constexpr unsigned kFlag = 6;
constexpr unsigned kMethod = 8;
constexpr unsigned kModTime = 10;
constexpr unsigned kModDate = 12;
// CRC, compressed and uncompressed size lie together, in that order, as
// in a data descriptor.
constexpr unsigned kCrc32 = 14;
constexpr unsigned kComprSize = 18;
constexpr unsigned kUncomprSize = 22;
constexpr unsigned kNameSize = 26;
constexpr unsigned kExtraSize = 28;
constexpr unsigned kFixedSize = 30;
// Size fields of 0xFFFFFFFF give the sizes in the ZIP64 record of the extra
// field: the uncompressed, then the compressed size, 8 bytes each.
constexpr unsigned kZip64Mark = 0xFFFFFFFFu;
constexpr unsigned kZip64SizesSize = 16;
}  // namespace ZipLocalHeader
