#pragma once
// Decoded AIS message records, one per message type (or layout shared by
// several types). Values are stored raw, in the units the message carries
// (positions in 1/10000 minute unless noted, speed 1/10 knot, course
// 1/10 degree); only TMessage27 is scaled to the units of types 1 to 3.
// Text fields are zero-terminated; six-bit value 0 ("@") is dropped.
// A field that the received form of a message does not carry is 0 (or an
// empty text).

#include <cstdint>

// Types 1, 2, 3: class A position report.
struct TMessage123 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t navStatus;
    int16_t rot;        // raw 0..128 as is (128 stays +128), 129..255 as raw - 256
    uint16_t sog;
    uint8_t accuracy;
    int32_t lon;
    int32_t lat;
    uint16_t cog;
    uint16_t heading;
    uint8_t second;
};

// Type 4 (base station report); type 11 (UTC/date response) uses it too.
struct TMessage4 {
    uint8_t repeat;
    uint32_t mmsi;
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t accuracy;
    int32_t lon;
    int32_t lat;
    uint8_t epfd;
    uint16_t spare;
    uint8_t raim;
    uint8_t syncState;
    uint8_t slotTimeout;
    uint16_t subMessage;
};

// Type 5: static and voyage related data.
struct TMessage5 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t aisVersion;
    uint32_t imo;
    char callsign[8];
    char name[21];
    uint8_t shipType;
    uint16_t toBow;
    uint16_t toStern;
    uint8_t toPort;
    uint8_t toStarboard;
    uint8_t epfd;
    uint32_t eta;       // month (4 bits), day (5), hour (5), minute (6), top first
    uint8_t draught;
    char destination[21];
    uint8_t dte;
    uint8_t spare;
};

// Type 6: addressed binary message.
struct TMessage6 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t sequence;
    uint32_t destMmsi;
    uint8_t retransmit;
    uint8_t spare;
    uint16_t appId;      // DAC (10 bits) and FI (6 bits) as one value
    uint16_t dataLength; // bytes held in data
    uint8_t data[122];   // whole data bytes, then a zero byte
};

// Type 7 (binary acknowledge); type 13 (safety acknowledge) uses it too.
struct TMessage7 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    uint32_t destMmsi1;
    uint8_t sequence1;
    uint32_t destMmsi2;
    uint8_t sequence2;
    uint32_t destMmsi3;
    uint8_t sequence3;
    uint32_t destMmsi4;
    uint8_t sequence4;
};

// Type 8: broadcast binary message.
struct TMessage8 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    uint16_t appId;
    uint16_t dataLength;
    uint8_t data[122];
};

// Type 9: SAR aircraft position report.
struct TMessage9 {
    uint8_t repeat;
    uint32_t mmsi;
    uint16_t altitude;
    uint16_t sog;
    uint8_t accuracy;
    int32_t lon;
    int32_t lat;
    uint16_t cog;
    uint8_t second;
    uint8_t regional;
    uint8_t dte;
    uint8_t spare;
    uint8_t assigned;
    uint8_t raim;
    uint8_t commSelector;
};

// Type 10: UTC/date inquiry.
struct TMessage10 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    uint32_t destMmsi;
    uint8_t spare2;
};

// Type 12: addressed safety related message.
struct TMessage12 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t sequence;
    uint32_t destMmsi;
    uint8_t retransmit;
    uint8_t spare;
    char text[158];
};

// Type 14: safety related broadcast message.
struct TMessage14 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    char text[167];
};

// Type 15: interrogation.
struct TMessage15 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    uint32_t destMmsi1;
    uint8_t msgType1_1;
    uint16_t slotOffset1_1;
    uint8_t spare2;
    uint8_t msgType1_2;
    uint16_t slotOffset1_2;
    uint8_t spare3;
    uint32_t destMmsi2;
    uint8_t msgType2_1;
    uint16_t slotOffset2_1;
    uint8_t spare4;
};

// Type 16: assignment mode command, one destination (96 bits, spare2 at
// bits 92-95) or two (144 bits, spare2 0).
struct TMessage16 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    uint32_t destMmsiA;
    uint16_t offsetA;
    uint16_t incrementA;
    uint32_t destMmsiB;
    uint16_t offsetB;
    uint16_t incrementB;
    uint8_t spare2;
};

// Type 17: DGNSS broadcast; position in 1/10 minute.
struct TMessage17 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    int32_t lon;
    int32_t lat;
    uint8_t spare2;
    uint8_t dgnssType;
    uint16_t stationId;
    uint16_t zCount;
    uint8_t sequence;
    uint8_t wordCount;
    uint8_t health;
    uint8_t data[88];    // data words (3 bytes each) the message holds, then a zero byte
    uint16_t dataLength;
};

// Type 18: class B position report.
struct TMessage18 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t reserved;
    uint16_t sog;
    uint8_t accuracy;
    int32_t lon;
    int32_t lat;
    uint16_t cog;
    uint16_t heading;
    uint8_t second;
    uint8_t regional;
    uint8_t csUnit;
    uint8_t display;
    uint8_t dsc;
    uint8_t band;
    uint8_t msg22;
    uint8_t assigned;
    uint8_t raim;
    uint8_t commSelector;
};

// Type 19: extended class B report.
struct TMessage19 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t reserved;
    uint16_t sog;
    uint8_t accuracy;
    int32_t lon;
    int32_t lat;
    uint16_t cog;
    uint16_t heading;
    uint8_t second;
    uint8_t regional;
    char name[21];
    uint8_t shipType;
    uint16_t toBow;
    uint16_t toStern;
    uint8_t toPort;
    uint8_t toStarboard;
    uint8_t epfd;
    uint8_t raim;
    uint8_t dte;
    uint8_t assignedSpare;  // assigned flag and four spare bits as one value
};

// Type 20: data link management, four reservation sets.
struct TMessage20 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    uint16_t offset1;
    uint8_t slotCount1;
    uint8_t timeout1;
    uint16_t increment1;
    uint16_t offset2;
    uint8_t slotCount2;
    uint8_t timeout2;
    uint16_t increment2;
    uint16_t offset3;
    uint8_t slotCount3;
    uint8_t timeout3;
    uint16_t increment3;
    uint16_t offset4;
    uint8_t slotCount4;
    uint8_t timeout4;
    uint16_t increment4;
};

// Type 21: aid-to-navigation report.
struct TMessage21 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t aidType;
    char name[21];
    uint8_t accuracy;
    int32_t lon;
    int32_t lat;
    uint16_t toBow;
    uint16_t toStern;
    uint8_t toPort;
    uint8_t toStarboard;
    uint8_t epfd;
    uint8_t second;
    uint8_t offPosition;
    uint8_t regional;
    uint8_t raim;
    uint8_t virtualAid;
    uint8_t assigned;
    uint8_t spare;
    char nameExtension[15];
    uint8_t extensionBits;  // the 0-5 bits after the last whole extension character
};

// Type 22: channel management (only the header is decoded).
struct TMessage22 {
    uint8_t repeat;
    uint32_t mmsi;
};

// Type 23: group assignment command; corners in 1/10 minute.
struct TMessage23 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t spare;
    int32_t neLon;
    int32_t neLat;
    int32_t swLon;
    int32_t swLat;
    uint8_t stationType;
    uint8_t shipType;
    uint32_t spare2;
    uint8_t txRxMode;
    uint8_t interval;
    uint8_t quietTime;
    uint8_t spare3;
};

// Type 24: static data report. Part A (partNumber 0) writes only repeat,
// mmsi, partNumber and name; part B (1 to 3) writes all but name.
struct TMessage24 {
    uint8_t repeat;
    uint32_t mmsi;
    uint8_t partNumber;
    char name[21];
    uint8_t shipType;
    char vendorId[8];
    char callsign[8];
    uint16_t toBow;
    uint16_t toStern;
    uint8_t toPort;
    uint8_t toStarboard;
    uint8_t spare;
};

// Type 27: long-range position report, scaled to the units of types 1-3.
struct TMessage27 {
    uint32_t mmsi;
    uint8_t navStatus;
    uint16_t sog;       // raw knots x 10
    uint8_t accuracy;
    int32_t lon;        // raw 1/10 minute x 1000
    int32_t lat;
    uint16_t cog;       // raw degrees x 10
};
