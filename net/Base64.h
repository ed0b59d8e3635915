#pragma once
// Base64 codec with the standard alphabet ("+", "/", "=" padding). Encoding
// can break lines with a single LF after every 76 characters; decoding skips
// CR and LF between groups of four. Characters outside the alphabet decode as
// value 0, and a short last group reads as padded, so any text decodes.

#include <cstddef>
#include <cstdio>
#include <string>

class IFile;

class Base64 {
public:
    // The 64 characters, indexed by 6-bit value.
    static const char bstr[];
    // The 6-bit value of each alphabet character, 0 for every other code.
    static const char rstr[128];

    // `output` is cleared first. With `breaks` an LF follows every 76th
    // character, but never the last one.
    void encode(const std::string& input, std::string& output, bool breaks) const;
    void encode(const char* input, size_t length, std::string& output, bool breaks) const;
    void encode(const unsigned char* input, size_t length, std::string& output, bool breaks) const;
    // Reads until a read returns nothing. Reads may be short: a group is
    // filled across them, and only the stream's last group is padded.
    void encode(FILE* file, std::string& output, bool breaks) const;
    void encode(IFile* file, std::string& output, bool breaks) const;

    void decode(const std::string& input, std::string& output) const;
    // `length` holds the capacity of `output` on entry and the number of
    // bytes written on return; nothing is written past the capacity, and the
    // result is false when the decoded bytes didn't all fit. With a null
    // `output` only the count is made and the capacity is not used.
    bool decode(const std::string& input, unsigned char* output, size_t& length) const;
    // Exactly the number of bytes decode makes of `input`.
    size_t decode_length(const std::string& input) const;
};
