#pragma once
// Where the fields of a central directory header lie, counted from its
// signature. The name, the extra field and then the comment follow the
// fixed part. The reader and the writer take the offsets from here.
namespace ZipCentralHeader {
constexpr unsigned kSignature = 0;
constexpr unsigned kSignatureSize = 4;
constexpr unsigned kVersionMadeBy = 4;
constexpr unsigned kVersionNeeded = 6;
constexpr unsigned kFlag = 8;
constexpr unsigned kMethod = 10;
constexpr unsigned kModTime = 12;
constexpr unsigned kModDate = 14;
constexpr unsigned kCrc32 = 16;
constexpr unsigned kComprSize = 20;
constexpr unsigned kUncomprSize = 24;
constexpr unsigned kNameSize = 28;
constexpr unsigned kExtraSize = 30;
constexpr unsigned kCommentSize = 32;
constexpr unsigned kVolumeStart = 34;
constexpr unsigned kInternalAttr = 36;
constexpr unsigned kExternalAttr = 38;
constexpr unsigned kOffset = 42;
constexpr unsigned kFixedSize = 46;
}  // namespace ZipCentralHeader
