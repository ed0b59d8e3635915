// Decoders of the binary, safety, interrogation, assignment, DGNSS, data
// link, aid-to-navigation and channel management messages. Each line:
// field = reader(first bit, width). Minimums are the shortest standard
// form; fields a shorter form lacks read as 0.
#include <algorithm>

#include "ais/ais_parser.h"

int AISParser::DecodeMessage6() {
    if (bitLength < 88) return 0;
    TMessage6& m = message6;
    m.repeat     = U(6, 2);
    m.mmsi       = U(8, 30);
    m.sequence   = U(38, 2);
    m.destMmsi   = U(40, 30);
    m.retransmit = U(70, 1);
    m.spare      = U(71, 1);
    m.appId      = U(72, 16);
    m.dataLength = Bytes(88, sizeof m.data - 1, m.data);
    return messageType;
}

void AISParser::DecodeAck(TMessage7& m) const {
    m.repeat    = U(6, 2);
    m.mmsi      = U(8, 30);
    m.spare     = U(38, 2);
    m.destMmsi1 = U(40, 30);
    m.sequence1 = U(70, 2);
    m.destMmsi2 = U(72, 30);
    m.sequence2 = U(102, 2);
    m.destMmsi3 = U(104, 30);
    m.sequence3 = U(134, 2);
    m.destMmsi4 = U(136, 30);
    m.sequence4 = U(166, 2);
}

int AISParser::DecodeMessage7() {
    if (bitLength < 72) return 0;
    DecodeAck(message7);
    return messageType;
}

int AISParser::DecodeMessage13() {
    if (bitLength < 72) return 0;
    DecodeAck(message13);
    return messageType;
}

int AISParser::DecodeMessage8() {
    if (bitLength < 56) return 0;
    TMessage8& m = message8;
    m.repeat     = U(6, 2);
    m.mmsi       = U(8, 30);
    m.spare      = U(38, 2);
    m.appId      = U(40, 16);
    m.dataLength = Bytes(56, sizeof m.data - 1, m.data);
    return messageType;
}

int AISParser::DecodeMessage10() {
    if (bitLength < 72) return 0;
    TMessage10& m = message10;
    m.repeat   = U(6, 2);
    m.mmsi     = U(8, 30);
    m.spare    = U(38, 2);
    m.destMmsi = U(40, 30);
    m.spare2   = U(70, 2);
    return messageType;
}

int AISParser::DecodeMessage12() {
    if (bitLength < 72) return 0;
    TMessage12& m = message12;
    m.repeat     = U(6, 2);
    m.mmsi       = U(8, 30);
    m.sequence   = U(38, 2);
    m.destMmsi   = U(40, 30);
    m.retransmit = U(70, 1);
    m.spare      = U(71, 1);
    Text(72, sizeof m.text - 1, m.text);
    return messageType;
}

int AISParser::DecodeMessage14() {
    if (bitLength < 40) return 0;
    TMessage14& m = message14;
    m.repeat = U(6, 2);
    m.mmsi   = U(8, 30);
    m.spare  = U(38, 2);
    Text(40, sizeof m.text - 1, m.text);
    return messageType;
}

int AISParser::DecodeMessage15() {
    if (bitLength < 88) return 0;  // forms of 88, 110 and 160 bits
    TMessage15& m = message15;
    m.repeat        = U(6, 2);
    m.mmsi          = U(8, 30);
    m.spare         = U(38, 2);
    m.destMmsi1     = U(40, 30);
    m.msgType1_1    = U(70, 6);
    m.slotOffset1_1 = U(76, 12);
    m.spare2        = U(88, 2);
    m.msgType1_2    = U(90, 6);
    m.slotOffset1_2 = U(96, 12);
    m.spare3        = U(108, 2);
    m.destMmsi2     = U(110, 30);
    m.msgType2_1    = U(140, 6);
    m.slotOffset2_1 = U(146, 12);
    m.spare4        = U(158, 2);
    return messageType;
}

int AISParser::DecodeMessage16() {
    if (bitLength < 96) return 0;
    TMessage16& m = message16;
    const bool two = bitLength >= 144;  // 144 bits: two destinations, no spare
    m.repeat     = U(6, 2);
    m.mmsi       = U(8, 30);
    m.spare      = U(38, 2);
    m.destMmsiA  = U(40, 30);
    m.offsetA    = U(70, 12);
    m.incrementA = U(82, 10);
    m.destMmsiB  = two ? U(92, 30) : 0;
    m.offsetB    = two ? U(122, 12) : 0;
    m.incrementB = two ? U(134, 10) : 0;
    m.spare2     = two ? 0 : U(92, 4);
    return messageType;
}

int AISParser::DecodeMessage17() {
    if (bitLength < 80) return 0;  // 80 bits: position only, no DGNSS data
    TMessage17& m = message17;
    m.repeat    = U(6, 2);
    m.mmsi      = U(8, 30);
    m.spare     = U(38, 2);
    m.lon       = S(40, 18);
    m.lat       = S(58, 17);
    m.spare2    = U(75, 5);
    m.dgnssType = U(80, 6);
    m.stationId = U(86, 10);
    m.zCount    = U(96, 13);
    m.sequence  = U(109, 3);
    m.wordCount = U(112, 5);
    m.health    = U(117, 3);
    // Only the 24-bit words the message really holds, at most 29.
    const unsigned held = bitLength > 120 ? (bitLength - 120) / 24 : 0;
    const unsigned words = std::min({unsigned{m.wordCount}, held, 29u});
    m.dataLength = Bytes(120, 3 * words, m.data);
    return messageType;
}

int AISParser::DecodeMessage20() {
    if (bitLength < 72) return 0;  // one to four reservation sets
    TMessage20& m = message20;
    m.repeat     = U(6, 2);
    m.mmsi       = U(8, 30);
    m.spare      = U(38, 2);
    m.offset1    = U(40, 12);
    m.slotCount1 = U(52, 4);
    m.timeout1   = U(56, 3);
    m.increment1 = U(59, 11);
    m.offset2    = U(70, 12);
    m.slotCount2 = U(82, 4);
    m.timeout2   = U(86, 3);
    m.increment2 = U(89, 11);
    m.offset3    = U(100, 12);
    m.slotCount3 = U(112, 4);
    m.timeout3   = U(116, 3);
    m.increment3 = U(119, 11);
    m.offset4    = U(130, 12);
    m.slotCount4 = U(142, 4);
    m.timeout4   = U(146, 3);
    m.increment4 = U(149, 11);
    return messageType;
}

int AISParser::DecodeMessage21() {
    if (bitLength < 272) return 0;
    TMessage21& m = message21;
    m.repeat      = U(6, 2);
    m.mmsi        = U(8, 30);
    m.aidType     = U(38, 5);
    Text(43, 20, m.name);
    m.accuracy    = U(163, 1);
    m.lon         = S(164, 28);
    m.lat         = S(192, 27);
    m.toBow       = U(219, 9);
    m.toStern     = U(228, 9);
    m.toPort      = U(237, 6);
    m.toStarboard = U(243, 6);
    m.epfd        = U(249, 4);
    m.second      = U(253, 6);
    m.offPosition = U(259, 1);
    m.regional    = U(260, 8);
    m.raim        = U(268, 1);
    m.virtualAid  = U(269, 1);
    m.assigned    = U(270, 1);
    m.spare       = U(271, 1);
    Text(272, sizeof m.nameExtension - 1, m.nameExtension);
    // The bits after the last whole character, as a number.
    const unsigned tail = (bitLength - 272) % 6;
    m.extensionBits = tail ? U(bitLength - tail, tail) : 0;
    return messageType;
}

int AISParser::DecodeMessage22() {
    if (bitLength < 38) return 0;
    TMessage22& m = message22;
    m.repeat = U(6, 2);
    m.mmsi   = U(8, 30);
    return messageType;
}

int AISParser::DecodeMessage23() {
    if (bitLength < 160) return 0;
    TMessage23& m = message23;
    m.repeat      = U(6, 2);
    m.mmsi        = U(8, 30);
    m.spare       = U(38, 2);
    m.neLon       = S(40, 18);
    m.neLat       = S(58, 17);
    m.swLon       = S(75, 18);
    m.swLat       = S(93, 17);
    m.stationType = U(110, 4);
    m.shipType    = U(114, 8);
    m.spare2      = U(122, 22);
    m.txRxMode    = U(144, 2);
    m.interval    = U(146, 4);
    m.quietTime   = U(150, 4);
    m.spare3      = U(154, 6);
    return messageType;
}
