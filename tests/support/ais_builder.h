#pragma once
// Test helpers, header-only: build AIS messages bit by bit from field values
// and armour them into valid "!AIVDM" sentences with checksums.
//
//   ais_builder::BitWriter w;
//   w.u(1, 6).u(0, 2).u(477553000, 30) ... ;           // type, repeat, MMSI...
//   auto lines = ais_builder::sentences(w);              // one or more sentences
//   std::string text = ais_builder::gathered(lines);     // each + "\r\n"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ais_builder {

// Message bits, most significant first, as a string of '0' and '1'.
class BitWriter {
public:
    // The low `width` bits of value (width 0 to 64); negative values are
    // written as two's complement of the width.
    BitWriter& u(uint64_t value, unsigned width) {
        for (unsigned i = width; i-- > 0;) bits_ += ((value >> i) & 1) ? '1' : '0';
        return *this;
    }
    BitWriter& s(int64_t value, unsigned width) { return u(static_cast<uint64_t>(value), width); }

    // `chars` six-bit characters of text, padded with "@" (value 0). Lower
    // case is taken as upper case; anything outside the alphabet as "@".
    BitWriter& text(const std::string& t, unsigned chars) {
        for (unsigned i = 0; i < chars; ++i) u(i < t.size() ? sixBit(t[i]) : 0, 6);
        return *this;
    }
    static unsigned sixBit(char c) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        const auto v = static_cast<unsigned char>(c);
        if (v >= 64 && v <= 95) return v - 64u;
        if (v >= 32 && v <= 63) return v;
        return 0;
    }

    BitWriter& bytes(const std::vector<uint8_t>& data) {
        for (uint8_t b : data) u(b, 8);
        return *this;
    }
    // n copies of one bit; handy for filling to an exact length.
    BitWriter& fill(size_t n, bool one = false) {
        bits_.append(n, one ? '1' : '0');
        return *this;
    }
    // Cut to, or pad with zeros up to, exactly n bits.
    BitWriter& resize(size_t n) {
        bits_.resize(n, '0');
        return *this;
    }

    size_t size() const { return bits_.size(); }
    const std::string& str() const { return bits_; }

    // The bits packed into bytes, most significant first, last byte padded
    // with zeros: the layout of AISParser::bits.
    std::vector<uint8_t> packed() const {
        std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i] == '1') out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        return out;
    }

private:
    std::string bits_;
};

// Armouring character of a six-bit value: 0-39 are "0" to "W", 40-63 "`" to "w".
inline char armourChar(unsigned v) { return static_cast<char>(v < 40 ? v + 48 : v + 56); }

// Armours bits [from, from + count) into payload characters; *fill gets the
// number of zero bits added to complete the last character.
inline std::string armour(const std::string& bits, size_t from, size_t count, int* fill) {
    std::string out;
    unsigned v = 0;
    int n = 0;
    for (size_t i = from; i < from + count; ++i) {
        v = (v << 1) | (bits[i] == '1' ? 1u : 0u);
        if (++n == 6) {
            out += armourChar(v);
            v = 0;
            n = 0;
        }
    }
    *fill = n ? 6 - n : 0;
    if (n) out += armourChar(v << *fill);
    return out;
}
inline std::string armour(const BitWriter& w, int* fill) { return armour(w.str(), 0, w.size(), fill); }

// "*HH": XOR of the characters after the start character.
inline std::string checksum(const std::string& body) {
    unsigned char x = 0;
    for (size_t i = 1; i < body.size(); ++i) x ^= static_cast<unsigned char>(body[i]);
    char buf[4];
    std::snprintf(buf, sizeof buf, "*%02X", x);
    return buf;
}

// One sentence "!AIVDM,count,number,seq,channel,payload,fill*HH".
inline std::string sentence(int count, int number, const std::string& seq, char channel,
                            const std::string& payload, int fill,
                            const std::string& head = "!AIVDM") {
    std::string body = head + "," + std::to_string(count) + "," + std::to_string(number) + "," +
                       seq + "," + std::string(1, channel) + "," + payload + "," +
                       std::to_string(fill);
    return body + checksum(body);
}

// The message split into fragments of the given bit counts (the last one
// takes the rest); every fragment carries its own fill bits, so a fragment
// of a count that is no multiple of 6 ends in fill. A message of more than
// one fragment gets sequence identifier `seq` (default "1").
inline std::vector<std::string> sentencesByBits(const BitWriter& w, std::vector<size_t> chunks,
                                                char channel = 'A', std::string seq = "") {
    size_t used = 0;
    for (size_t c : chunks) used += c;
    if (used < w.size() || chunks.empty()) chunks.push_back(w.size() - used);
    const int count = static_cast<int>(chunks.size());
    if (count > 1 && seq.empty()) seq = "1";
    std::vector<std::string> out;
    size_t from = 0;
    for (int i = 0; i < count; ++i) {
        int fill = 0;
        const std::string payload = armour(w.str(), from, chunks[i], &fill);
        out.push_back(sentence(count, i + 1, seq, channel, payload, fill));
        from += chunks[i];
    }
    return out;
}

// The message in fragments of at most charsPerSentence payload characters,
// fill bits in the last one only (as transmitters do).
inline std::vector<std::string> sentences(const BitWriter& w, size_t charsPerSentence = 60,
                                          char channel = 'A', const std::string& seq = "") {
    std::vector<size_t> chunks;
    for (size_t from = 0; from + 6 * charsPerSentence < w.size(); from += 6 * charsPerSentence)
        chunks.push_back(6 * charsPerSentence);
    return sentencesByBits(w, chunks, channel, seq);
}

// Gathered message text: every sentence followed by "\r\n".
inline std::string gathered(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

// Feeds the sentences to any parser with Assemble(const char*); returns the
// result of the last call.
template <class Parser>
int assembleAll(Parser& parser, const std::vector<std::string>& lines) {
    int r = 0;
    for (const auto& l : lines) r = parser.Assemble(l.c_str());
    return r;
}

}  // namespace ais_builder
