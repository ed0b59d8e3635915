// Decodes arbitrary text as Base64 in both forms and traps unless they
// agree with decode_length, a buffer of exactly that size holds the result,
// one byte less is cut without being overrun (ASan sees any stray write),
// and encoding the input and decoding it again gives it back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "net/Base64.h"

namespace {

void require(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const Base64 b;

    std::string decoded;
    b.decode(input, decoded);
    const size_t length = b.decode_length(input);
    require(length == decoded.size());
    require(length <= input.size() / 4 * 3 + 3);

    // Heap blocks of the exact capacity, a zero-sized one too.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[length]);
    size_t n = length;
    require(b.decode(input, exact.get(), n));
    require(n == length && std::memcmp(exact.get(), decoded.data(), n) == 0);
    if (length > 0) {
        std::unique_ptr<unsigned char[]> small(new unsigned char[length - 1]);
        n = length - 1;
        require(!b.decode(input, small.get(), n));
        require(n == length - 1 && std::memcmp(small.get(), decoded.data(), n) == 0);
    }

    for (bool breaks : {false, true}) {
        std::string encoded;
        b.encode(input, encoded, breaks);
        require(breaks || encoded.find('\n') == std::string::npos);
        std::string back;
        b.decode(encoded, back);
        require(back == input);
    }
    return 0;
}
