// Feeds arbitrary text, one sentence per line, through checkVDM and the
// parser as the pipeline does (Assemble until complete, Parse, CRC32,
// Clear), and traps on any broken invariant of the parser.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "ais/ais_parser.h"
#include "ais/nmea_checks.h"

namespace {

void require(bool ok) {
    if (!ok) __builtin_trap();
}

template <size_t N>
void requireText(const char (&text)[N]) {
    require(std::memchr(text, '\0', N) != nullptr);
}

void checkInvariants(const AISParser& p) {
    require(p.bitLength <= AISParser::kMaxBits);
    // No stale bits: everything from bitLength on is zero.
    const uint32_t fullBytes = p.bitLength / 8;
    if (p.bitLength % 8) require((p.bits[fullBytes] & (0xFFu >> (p.bitLength % 8))) == 0);
    for (uint32_t i = (p.bitLength + 7) / 8; i < AISParser::kBufferBytes; ++i) require(p.bits[i] == 0);
}

void checkRecords(const AISParser& p) {
    requireText(p.message5.callsign);
    requireText(p.message5.name);
    requireText(p.message5.destination);
    requireText(p.message12.text);
    requireText(p.message14.text);
    requireText(p.message19.name);
    requireText(p.message21.name);
    requireText(p.message21.nameExtension);
    requireText(p.message24.name);
    requireText(p.message24.vendorId);
    requireText(p.message24.callsign);
    require(p.message6.dataLength < sizeof p.message6.data);
    require(p.message8.dataLength < sizeof p.message8.data);
    require(p.message17.dataLength < sizeof p.message17.data);
    require(p.message17.dataLength % 3 == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AISParser* parser = new AISParser;  // one long-lived object, as in the program
    AISParser& p = *parser;
    p.Clear();

    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t pos = 0;
    while (pos <= input.size()) {
        size_t end = input.find('\n', pos);
        if (end == std::string::npos) end = input.size();
        std::string line = input.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;

        if (!checkVDM(line.c_str())) continue;
        const int complete = p.Assemble(line.c_str());
        require(complete == 0 || complete == 1);
        checkInvariants(p);
        const uint32_t before = p.bitLength;
        const int type = p.Parse();  // also on partial messages: must be safe
        require(type >= 0 && type < 64);
        require(p.bitLength == before);
        (void)p.CRC32();
        checkRecords(p);
        if (complete) p.Clear();
    }
    return 0;
}
