#pragma once
// AISParser: gathers the payload bits of the VDM sentences of one AIS
// message (Assemble), decodes them into the record of the message's type
// (Parse) and gives a CRC-32 of the bits as a duplicate key (CRC32).
//
// Use per message: Assemble each sentence in fragment order until it
// returns 1, then Parse, CRC32, and Clear. All data fields are public and
// read directly; a record keeps its values until the next message of its
// type is decoded (Clear leaves records alone). No heap memory, no locks:
// one thread only.
//
// Bits are numbered from 0 at the first payload bit; message bit k is bit
// 7 - k % 8 of bits[k / 8] (most significant first). Every bit at or after
// bitLength is zero.

#include <cstddef>
#include <cstdint>

#include "ais/records.h"

class AISParser {
public:
    static constexpr unsigned kBufferBytes = 2000;
    static constexpr unsigned kMaxBits = kBufferBytes * 8;  // 16,000
    static constexpr int kMaxPayloadChars = 2000;
    static constexpr int kMaxFillBits = 5;
    static constexpr unsigned kHeaderBits = 38;  // type and MMSI

    uint8_t messageType = 0;     // bits 0-5 of the last parsed message (0 below 38 bits)
    int16_t sequenceId = 0;      // of the last assembled sentence; 0 when empty
    int16_t fragmentCount = 0;   // of the last assembled sentence
    int16_t fragmentNumber = 0;  // of the last assembled sentence
    char channel = 0;            // of the last assembled sentence
    uint32_t mmsi = 0;           // bits 8-37 of the last parsed message (0 below 38 bits)
    TMessage123 message123{};
    TMessage4 message4{};
    TMessage5 message5{};
    TMessage6 message6{};
    TMessage7 message7{};
    TMessage8 message8{};
    TMessage9 message9{};
    TMessage10 message10{};
    TMessage4 message11{};
    TMessage12 message12{};
    TMessage7 message13{};
    TMessage14 message14{};
    TMessage15 message15{};
    TMessage16 message16{};
    TMessage17 message17{};
    TMessage18 message18{};
    TMessage19 message19{};
    TMessage20 message20{};
    TMessage21 message21{};
    TMessage22 message22{};
    TMessage23 message23{};
    TMessage24 message24{};
    TMessage27 message27{};
    uint32_t bitLength = 0;              // message bits gathered so far
    uint8_t bits[kBufferBytes];      // the message bits
    uint32_t crcTable[256];          // CRC-32 table, polynomial 0x04C11DB7, MSB first

    // Fills crcTable and empties the bit buffer; header fields and records
    // start zeroed.
    AISParser();

    // Appends the payload bits of one sentence that passed checkVDM.
    // Returns 1 when the sentence completes its message (fragment number ==
    // fragment count), else 0. A fragment 1 always starts a new message.
    // Refused, with the bit buffer cleared and result 0: an empty payload,
    // more than 2000 payload characters, a fill count above 5, a message
    // that would outgrow the buffer, and a fragment other than 1 that does
    // not continue the message in progress (this covers every later fragment
    // of a message whose earlier fragment was refused). Never allocates.
    // So when the last sentence of a gathered message returns 0, the
    // message was refused and must be dropped.
    int Assemble(const char* sentence);
    // The same on a sentence of `length` bytes (no NUL among them).
    int Assemble(const char* sentence, size_t length);

    // Decodes the gathered bits: sets messageType and mmsi, then fills the
    // record of the type. Returns the type, or 0 when the message is shorter
    // than its type's minimum (the record is then left unchanged). Types
    // without a decoder (0, 25, 26, 28-63) return their own number.
    int Parse();

    // CRC-32 over the ceil(bitLength / 8) message bytes: first four bytes
    // inverted as the initial register, no augmentation, result inverted.
    // 0 for messages of 24 bits or fewer.
    uint32_t CRC32() const;

    // Zeroes bitLength and all of bits and forgets the message in progress;
    // header fields and records keep their values.
    void Clear();

    uint32_t GetMessageLength() const { return bitLength; }

    // Per-type decoders, called by Parse. Each tests bitLength against the
    // type's minimum, returns 0 and leaves the record unchanged when it is
    // shorter, else fills the record and returns messageType. Fields beyond
    // bitLength (shorter standard forms) are stored as 0 / empty text.
    int DecodeMessage123();
    int DecodeMessage4();
    int DecodeMessage5();
    int DecodeMessage6();
    int DecodeMessage7();
    int DecodeMessage8();
    int DecodeMessage9();
    int DecodeMessage10();
    int DecodeMessage11();
    int DecodeMessage12();
    int DecodeMessage13();
    int DecodeMessage14();
    int DecodeMessage15();
    int DecodeMessage16();
    int DecodeMessage17();
    int DecodeMessage18();
    int DecodeMessage19();
    int DecodeMessage20();
    int DecodeMessage21();
    int DecodeMessage22();
    int DecodeMessage23();
    int DecodeMessage24();  // writes repeat, mmsi, partNumber from 40 bits on
    int DecodeMessage27();

    // Field readers on any bit array in message bit order. The caller makes
    // sure the bits read lie inside data.

    // De-armours len payload characters in place into six-bit values.
    static void convertchars(unsigned char* p, int len);
    // Packs len six-bit values into 3 bytes per 4 values; a last short
    // group is padded with zero values (writes 3 * ceil(len / 4) bytes).
    static void convert628(const unsigned char* in, unsigned char* out, int len);
    // The w bits (1 to 32) from bit s, most significant first.
    static uint32_t convertUnsigned(const uint8_t* data, unsigned s, unsigned w);
    // The same bits as a w-bit two's complement value.
    static int32_t convertSigned(const uint8_t* data, unsigned s, unsigned w);
    // floor(nbits / 6) six-bit characters from bit s into out, then a zero
    // byte: 0 is dropped, 1-31 give codes 65-95, 32-63 give codes 32-63.
    // out needs room for floor(nbits / 6) + 1 bytes.
    static void convert6bit(const uint8_t* data, unsigned s, unsigned nbits, char* out);

private:
    // Readers bounded by bitLength: a field not wholly inside the message
    // reads as 0; a text takes only the characters the message holds.
    uint32_t U(unsigned s, unsigned w) const;
    int32_t S(unsigned s, unsigned w) const;
    void Text(unsigned s, unsigned maxChars, char* out) const;
    // Reads up to maxBytes whole bytes from byte-aligned bit s, then a zero byte.
    uint16_t Bytes(unsigned s, unsigned maxBytes, uint8_t* out) const;

    // Layouts shared by two types: 4 and 11, 7 and 13.
    void DecodeBaseStation(TMessage4& m) const;
    void DecodeAck(TMessage7& m) const;

    void Refuse();

    // Fragment number the message in progress needs next, 0 when none is in
    // progress (after Clear, a completed message or a refusal): only a
    // fragment 1 is then taken. pendingCount_ is that message's count.
    int16_t nextFragment_ = 0;
    int16_t pendingCount_ = 0;

    // crcSlices_[k][b] = crcTable[b] times x^(8(k+1)) modulo the polynomial:
    // what byte k+1 of the register adds when four bytes shift in at once.
    uint32_t crcSlices_[3][256];
};

// The readers every decoder calls for each field, here so that they inline.

inline uint32_t AISParser::convertUnsigned(const uint8_t* data, unsigned s, unsigned w) {
    const unsigned first = s / 8;
    const unsigned last = (s + w - 1) / 8;  // at most 5 bytes for w <= 32
    uint64_t acc = 0;
    for (unsigned i = first; i <= last; ++i) acc = (acc << 8) | data[i];
    acc >>= 8 * (last + 1) - (s + w);
    return static_cast<uint32_t>(acc & ((uint64_t{1} << w) - 1));
}

inline int32_t AISParser::convertSigned(const uint8_t* data, unsigned s, unsigned w) {
    const int64_t raw = convertUnsigned(data, s, w);
    const int64_t top = int64_t{1} << (w - 1);
    return static_cast<int32_t>(raw >= top ? raw - 2 * top : raw);
}

inline uint32_t AISParser::U(unsigned s, unsigned w) const {
    return s + w <= bitLength ? convertUnsigned(bits, s, w) : 0;
}

inline int32_t AISParser::S(unsigned s, unsigned w) const {
    return s + w <= bitLength ? convertSigned(bits, s, w) : 0;
}
