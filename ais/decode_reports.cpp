// Decoders of the position, static and voyage reports: types 1-5, 9, 11,
// 18, 19, 24 and 27. Each line: field = reader(first bit, width).
#include "ais/ais_parser.h"

namespace {

// Raw 128 ("no turn information") stays +128; 129-255 are negative.
int16_t rateOfTurn(uint32_t raw) {
    return static_cast<int16_t>(raw <= 128 ? static_cast<int>(raw) : static_cast<int>(raw) - 256);
}

}  // namespace

int AISParser::DecodeMessage123() {
    if (bitLength < 143) return 0;
    TMessage123& m = message123;
    m.repeat    = U(6, 2);
    m.mmsi      = U(8, 30);
    m.navStatus = U(38, 4);
    m.rot       = rateOfTurn(U(42, 8));
    m.sog       = U(50, 10);
    m.accuracy  = U(60, 1);
    m.lon       = S(61, 28);
    m.lat       = S(89, 27);
    m.cog       = U(116, 12);
    m.heading   = U(128, 9);
    m.second    = U(137, 6);
    return messageType;
}

int AISParser::DecodeMessage4() {
    if (bitLength < 168) return 0;
    DecodeBaseStation(message4);
    return messageType;
}

int AISParser::DecodeMessage11() {
    if (bitLength < 168) return 0;
    DecodeBaseStation(message11);
    return messageType;
}

void AISParser::DecodeBaseStation(TMessage4& m) const {
    m.repeat      = U(6, 2);
    m.mmsi        = U(8, 30);
    m.year        = U(38, 14);
    m.month       = U(52, 4);
    m.day         = U(56, 5);
    m.hour        = U(61, 5);
    m.minute      = U(66, 6);
    m.second      = U(72, 6);
    m.accuracy    = U(78, 1);
    m.lon         = S(79, 28);
    m.lat         = S(107, 27);
    m.epfd        = U(134, 4);
    m.spare       = U(138, 10);
    m.raim        = U(148, 1);
    m.syncState   = U(149, 2);
    m.slotTimeout = U(151, 3);
    m.subMessage  = U(154, 14);
}

int AISParser::DecodeMessage5() {
    if (bitLength < 420) return 0;  // the 420-bit form lacks dte, spare and part of the destination
    TMessage5& m = message5;
    m.repeat      = U(6, 2);
    m.mmsi        = U(8, 30);
    m.aisVersion  = U(38, 2);
    m.imo         = U(40, 30);
    Text(70, 7, m.callsign);
    Text(112, 20, m.name);
    m.shipType    = U(232, 8);
    m.toBow       = U(240, 9);
    m.toStern     = U(249, 9);
    m.toPort      = U(258, 6);
    m.toStarboard = U(264, 6);
    m.epfd        = U(270, 4);
    m.eta         = U(274, 20);
    m.draught     = U(294, 8);
    Text(302, 20, m.destination);
    m.dte         = U(422, 1);
    m.spare       = U(423, 1);
    return messageType;
}

int AISParser::DecodeMessage9() {
    if (bitLength < 149) return 0;
    TMessage9& m = message9;
    m.repeat       = U(6, 2);
    m.mmsi         = U(8, 30);
    m.altitude     = U(38, 12);
    m.sog          = U(50, 10);
    m.accuracy     = U(60, 1);
    m.lon          = S(61, 28);
    m.lat          = S(89, 27);
    m.cog          = U(116, 12);
    m.second       = U(128, 6);
    m.regional     = U(134, 8);
    m.dte          = U(142, 1);
    m.spare        = U(143, 3);
    m.assigned     = U(146, 1);
    m.raim         = U(147, 1);
    m.commSelector = U(148, 1);
    return messageType;
}

int AISParser::DecodeMessage18() {
    if (bitLength < 149) return 0;
    TMessage18& m = message18;
    m.repeat       = U(6, 2);
    m.mmsi         = U(8, 30);
    m.reserved     = U(38, 8);
    m.sog          = U(46, 10);
    m.accuracy     = U(56, 1);
    m.lon          = S(57, 28);
    m.lat          = S(85, 27);
    m.cog          = U(112, 12);
    m.heading      = U(124, 9);
    m.second       = U(133, 6);
    m.regional     = U(139, 2);
    m.csUnit       = U(141, 1);
    m.display      = U(142, 1);
    m.dsc          = U(143, 1);
    m.band         = U(144, 1);
    m.msg22        = U(145, 1);
    m.assigned     = U(146, 1);
    m.raim         = U(147, 1);
    m.commSelector = U(148, 1);
    return messageType;
}

int AISParser::DecodeMessage19() {
    if (bitLength < 312) return 0;
    TMessage19& m = message19;
    m.repeat        = U(6, 2);
    m.mmsi          = U(8, 30);
    m.reserved      = U(38, 8);
    m.sog           = U(46, 10);
    m.accuracy      = U(56, 1);
    m.lon           = S(57, 28);
    m.lat           = S(85, 27);
    m.cog           = U(112, 12);
    m.heading       = U(124, 9);
    m.second        = U(133, 6);
    m.regional      = U(139, 4);
    Text(143, 20, m.name);
    m.shipType      = U(263, 8);
    m.toBow         = U(271, 9);
    m.toStern       = U(280, 9);
    m.toPort        = U(289, 6);
    m.toStarboard   = U(295, 6);
    m.epfd          = U(301, 4);
    m.raim          = U(305, 1);
    m.dte           = U(306, 1);
    m.assignedSpare = U(307, 5);
    return messageType;
}

int AISParser::DecodeMessage24() {
    if (bitLength < 40) return 0;
    TMessage24& m = message24;
    m.repeat     = U(6, 2);
    m.mmsi       = U(8, 30);
    m.partNumber = U(38, 2);
    if (m.partNumber == 0) {  // part A
        if (bitLength < 160) return 0;
        Text(40, 20, m.name);
        return messageType;
    }
    // Part B, also for the reserved part numbers 2 and 3. The dimension bits
    // are read as dimensions even for auxiliary craft (mothership MMSI there).
    if (bitLength < 168) return 0;
    m.shipType    = U(40, 8);
    Text(48, 7, m.vendorId);
    Text(90, 7, m.callsign);
    m.toBow       = U(132, 9);
    m.toStern     = U(141, 9);
    m.toPort      = U(150, 6);
    m.toStarboard = U(156, 6);
    m.spare       = U(162, 6);
    return messageType;
}

int AISParser::DecodeMessage27() {
    if (bitLength < 96) return 0;
    TMessage27& m = message27;
    m.mmsi      = U(8, 30);
    m.accuracy  = U(38, 1);
    m.navStatus = U(40, 4);
    m.lon       = S(44, 18) * 1000;  // 1/10 minute to 1/10000 minute
    m.lat       = S(62, 17) * 1000;
    m.sog       = U(79, 6) * 10;     // knots to 1/10 knot
    m.cog       = U(85, 9) * 10;     // degrees to 1/10 degree
    return messageType;
}
