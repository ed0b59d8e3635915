// Runs the socket library's text decoders over arbitrary bytes (URL
// escapes, URL and path splitting, UTF-8, numbers) and traps when a result
// grows where it can only shrink, a round trip loses bytes, or a split
// doesn't add up to its input. ASan/UBSan catch reads past the end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/Utility.h"

namespace {

void require(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    require(Utility::rfc1738_decode(input).size() <= input.size());
    require(Utility::rfc1738_decode(Utility::rfc1738_encode(input)) == input);

    require(Utility::FromUtf8(input).size() <= input.size());
    require(Utility::FromUtf8(Utility::ToUtf8(input)) == input);

    const Utility::Uri uri(input);
    require(uri.Url() == input);
    require(uri.PathWithQuery().size() <= input.size());
    require(uri.Path().size() + uri.QueryString().size() <= uri.PathWithQuery().size());
    require(uri.Host().size() + uri.User().size() + uri.Password().size() <= input.size());

    // Directory and file name together are the whole path (backslashes read
    // as "/"), whether or not it names a directory.
    const Utility::Path path(input);
    std::string slashed(input);
    for (char& c : slashed)
        if (c == '\\') c = '/';
    require(path.Directory() + path.FileName() == slashed);
    require(path.Extension().size() <= path.FileName().size());

    (void)Utility::isipv6(input);
    (void)Utility::hex2unsigned(input);
    (void)Utility::atoi64(input);

    // Decimal text back to the number, the most negative one included.
    if (size >= sizeof(long)) {
        long v;
        std::memcpy(&v, data, sizeof v);
        const std::string text = Utility::bigint2string(v);
        const unsigned long magnitude = v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
        require((v < 0) == (text[0] == '-'));
        require(Utility::atoi64(v < 0 ? text.substr(1) : text) == magnitude);
    }
    return 0;
}
