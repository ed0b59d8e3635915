#include "ais/ais_parser.h"

int AISParser::Parse() {
    if (bitLength < kHeaderBits) {  // no whole header: nothing to trust
        messageType = 0;
        mmsi = 0;
        return 0;
    }
    messageType = static_cast<uint8_t>(convertUnsigned(bits, 0, 6));
    mmsi = convertUnsigned(bits, 8, 30);
    switch (messageType) {
        case 1:
        case 2:
        case 3: return DecodeMessage123();
        case 4: return DecodeMessage4();
        case 5: return DecodeMessage5();
        case 6: return DecodeMessage6();
        case 7: return DecodeMessage7();
        case 8: return DecodeMessage8();
        case 9: return DecodeMessage9();
        case 10: return DecodeMessage10();
        case 11: return DecodeMessage11();
        case 12: return DecodeMessage12();
        case 13: return DecodeMessage13();
        case 14: return DecodeMessage14();
        case 15: return DecodeMessage15();
        case 16: return DecodeMessage16();
        case 17: return DecodeMessage17();
        case 18: return DecodeMessage18();
        case 19: return DecodeMessage19();
        case 20: return DecodeMessage20();
        case 21: return DecodeMessage21();
        case 22: return DecodeMessage22();
        case 23: return DecodeMessage23();
        case 24: return DecodeMessage24();
        case 27: return DecodeMessage27();
        default: return messageType;  // 0, 25, 26, 28-63: no decoder
    }
}
