#include "net/Base64.h"

#include "net/IFile.h"

const char Base64::bstr[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

const char Base64::rstr[128] = {
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, 62,  0,  0,  0, 63,
    52, 53, 54, 55, 56, 57, 58, 59, 60, 61,  0,  0,  0,  0,  0,  0,
     0,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14,
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,  0,  0,  0,  0,  0,
     0, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51,  0,  0,  0,  0,  0,
};

namespace {

const size_t kLineLength = 76;

// Appends groups of up to three bytes; the LF goes in front of the group
// that follows a full line, so none ever ends the text.
class Encoder {
public:
    Encoder(std::string& output, bool breaks) : m_out(output), m_breaks(breaks) { m_out.clear(); }

    void group(const unsigned char* b, size_t n) {
        if (m_breaks && m_written != 0 && m_written % kLineLength == 0) m_out += '\n';
        const unsigned b0 = b[0];
        const unsigned b1 = n > 1 ? b[1] : 0;
        const unsigned b2 = n > 2 ? b[2] : 0;
        m_out += Base64::bstr[b0 >> 2];
        m_out += Base64::bstr[((b0 & 3) << 4) | (b1 >> 4)];
        m_out += n > 1 ? Base64::bstr[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        m_out += n > 2 ? Base64::bstr[b2 & 63] : '=';
        m_written += 4;
    }

    void bytes(const unsigned char* input, size_t length) {
        m_out.reserve(m_out.size() + length / 3 * 4 + 4 + (m_breaks ? length / 57 : 0));
        for (size_t i = 0; i < length; i += 3) group(input + i, length - i < 3 ? length - i : 3);
    }

private:
    std::string& m_out;
    bool m_breaks;
    size_t m_written = 0;
};

unsigned sixBits(unsigned char c) { return c < 128 ? static_cast<unsigned char>(Base64::rstr[c]) : 0; }

// Calls put(byte) for every decoded byte. Characters past the end of the
// text read as "=", so a short last group decodes as a padded one.
template <class Put>
void decodeGroups(const std::string& in, Put put) {
    const size_t n = in.size();
    auto at = [&](size_t k) -> unsigned char { return k < n ? static_cast<unsigned char>(in[k]) : '='; };
    size_t i = 0;
    for (;;) {
        while (i < n && (in[i] == '\r' || in[i] == '\n')) ++i;
        if (i >= n) return;
        const unsigned char c2 = at(i + 2);
        const unsigned char c3 = at(i + 3);
        const unsigned s0 = sixBits(at(i)), s1 = sixBits(at(i + 1)), s2 = sixBits(c2), s3 = sixBits(c3);
        put(static_cast<unsigned char>((s0 << 2) | ((s1 >> 4) & 3)));
        if (c2 != '=') put(static_cast<unsigned char>((s1 << 4) | ((s2 >> 2) & 15)));
        if (c3 != '=') put(static_cast<unsigned char>((s2 << 6) | s3));
        i += 4;
    }
}

}  // namespace

void Base64::encode(const std::string& input, std::string& output, bool breaks) const {
    encode(reinterpret_cast<const unsigned char*>(input.data()), input.size(), output, breaks);
}

void Base64::encode(const char* input, size_t length, std::string& output, bool breaks) const {
    encode(reinterpret_cast<const unsigned char*>(input), length, output, breaks);
}

void Base64::encode(const unsigned char* input, size_t length, std::string& output, bool breaks) const {
    Encoder(output, breaks).bytes(input, length);
}

namespace {
// Reads in blocks and carries a group's first bytes over to the next read:
// a reader may return fewer bytes than asked at any time, and only the
// last group of the stream is padded.
template <class Read>
void encodeStream(Read read, std::string& output, bool breaks) {
    Encoder enc(output, breaks);
    unsigned char buf[3 * 1024];
    size_t held = 0;
    for (;;) {
        const size_t room = sizeof buf - held;
        size_t n = read(buf + held, room);
        if (n == 0) break;
        held += n < room ? n : room;  // a misbehaving reader may claim more
        const size_t whole = held / 3 * 3;
        enc.bytes(buf, whole);
        held -= whole;
        for (size_t i = 0; i < held; ++i) buf[i] = buf[whole + i];
    }
    if (held != 0) enc.group(buf, held);
}
}  // namespace

void Base64::encode(FILE* file, std::string& output, bool breaks) const {
    encodeStream([&](unsigned char* b, size_t n) { return fread(b, 1, n, file); }, output, breaks);
}

void Base64::encode(IFile* file, std::string& output, bool breaks) const {
    encodeStream([&](unsigned char* b, size_t n) { return file->fread(reinterpret_cast<char*>(b), 1, n); }, output,
                 breaks);
}

void Base64::decode(const std::string& input, std::string& output) const {
    output.clear();
    output.reserve(input.size() / 4 * 3 + 3);
    decodeGroups(input, [&](unsigned char c) { output += static_cast<char>(c); });
}

bool Base64::decode(const std::string& input, unsigned char* output, size_t& length) const {
    const size_t capacity = length;
    size_t count = 0;
    bool fits = true;
    decodeGroups(input, [&](unsigned char c) {
        if (output == nullptr) {
            ++count;
        } else if (count < capacity) {
            output[count++] = c;
        } else {
            fits = false;
        }
    });
    length = count;
    return fits;
}

size_t Base64::decode_length(const std::string& input) const {
    size_t count = 0;
    decodeGroups(input, [&](unsigned char) { ++count; });
    return count;
}
