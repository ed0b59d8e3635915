// Golden regression: the corpus of generated sentences (every type 1 to 27,
// the short forms, corner values) decodes to exactly the records of
// golden/decoded.txt, every field of each. The golden file was checked
// against an independent decoder by compare_gpsdecode.py; this test needs
// nothing but the parser.
//
// To write the golden file anew after a deliberate change of the decoder:
//   AISB_GOLDEN_UPDATE=1 ./ais_tests --gtest_filter='Golden.*'
// then rerun compare_gpsdecode.py and review the difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ais/ais_parser.h"

namespace {

const std::string kDir = AISB_GOLDEN_DIR;

// One line "key=value ..." per message; texts quoted with " and \ escaped,
// binary data as hex.
class Dump {
public:
    Dump& num(const char* key, long long v) {
        out_ << ' ' << key << '=' << v;
        return *this;
    }
    Dump& text(const char* key, const char* t) {
        out_ << ' ' << key << "=\"";
        for (; *t; ++t) {
            if (*t == '"' || *t == '\\') out_ << '\\';
            out_ << *t;
        }
        out_ << '"';
        return *this;
    }
    Dump& hex(const char* key, const uint8_t* data, unsigned n) {
        out_ << ' ' << key << '=';
        char buf[3];
        for (unsigned i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof buf, "%02x", data[i]);
            out_ << buf;
        }
        if (n == 0) out_ << '-';
        return *this;
    }
    std::string str() const { return out_.str(); }

private:
    std::ostringstream out_;
};

void dumpBaseStation(Dump& d, const TMessage4& m) {
    d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("year", m.year).num("month", m.month)
        .num("day", m.day).num("hour", m.hour).num("minute", m.minute).num("second", m.second)
        .num("accuracy", m.accuracy).num("lon", m.lon).num("lat", m.lat).num("epfd", m.epfd)
        .num("spare", m.spare).num("raim", m.raim).num("syncState", m.syncState)
        .num("slotTimeout", m.slotTimeout).num("subMessage", m.subMessage);
}

void dumpAck(Dump& d, const TMessage7& m) {
    d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
        .num("destMmsi1", m.destMmsi1).num("sequence1", m.sequence1)
        .num("destMmsi2", m.destMmsi2).num("sequence2", m.sequence2)
        .num("destMmsi3", m.destMmsi3).num("sequence3", m.sequence3)
        .num("destMmsi4", m.destMmsi4).num("sequence4", m.sequence4);
}

// Every field of the record that a Parse result of `type` filled.
void dumpRecord(Dump& d, const AISParser& p, int type) {
    switch (type) {
        case 1: case 2: case 3: {
            const TMessage123& m = p.message123;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("navStatus", m.navStatus)
                .num("rot", m.rot).num("sog", m.sog).num("accuracy", m.accuracy)
                .num("lon", m.lon).num("lat", m.lat).num("cog", m.cog)
                .num("heading", m.heading).num("second", m.second);
            break;
        }
        case 4: dumpBaseStation(d, p.message4); break;
        case 11: dumpBaseStation(d, p.message11); break;
        case 5: {
            const TMessage5& m = p.message5;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("aisVersion", m.aisVersion)
                .num("imo", m.imo).text("callsign", m.callsign).text("name", m.name)
                .num("shipType", m.shipType).num("toBow", m.toBow).num("toStern", m.toStern)
                .num("toPort", m.toPort).num("toStarboard", m.toStarboard).num("epfd", m.epfd)
                .num("eta", m.eta).num("draught", m.draught)
                .text("destination", m.destination).num("dte", m.dte).num("spare", m.spare);
            break;
        }
        case 6: {
            const TMessage6& m = p.message6;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("sequence", m.sequence)
                .num("destMmsi", m.destMmsi).num("retransmit", m.retransmit)
                .num("spare", m.spare).num("appId", m.appId).num("dataLength", m.dataLength)
                .hex("data", m.data, m.dataLength);
            break;
        }
        case 7: dumpAck(d, p.message7); break;
        case 13: dumpAck(d, p.message13); break;
        case 8: {
            const TMessage8& m = p.message8;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .num("appId", m.appId).num("dataLength", m.dataLength)
                .hex("data", m.data, m.dataLength);
            break;
        }
        case 9: {
            const TMessage9& m = p.message9;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("altitude", m.altitude)
                .num("sog", m.sog).num("accuracy", m.accuracy).num("lon", m.lon)
                .num("lat", m.lat).num("cog", m.cog).num("second", m.second)
                .num("regional", m.regional).num("dte", m.dte).num("spare", m.spare)
                .num("assigned", m.assigned).num("raim", m.raim)
                .num("commSelector", m.commSelector);
            break;
        }
        case 10: {
            const TMessage10& m = p.message10;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .num("destMmsi", m.destMmsi).num("spare2", m.spare2);
            break;
        }
        case 12: {
            const TMessage12& m = p.message12;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("sequence", m.sequence)
                .num("destMmsi", m.destMmsi).num("retransmit", m.retransmit)
                .num("spare", m.spare).text("text", m.text);
            break;
        }
        case 14: {
            const TMessage14& m = p.message14;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .text("text", m.text);
            break;
        }
        case 15: {
            const TMessage15& m = p.message15;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .num("destMmsi1", m.destMmsi1).num("msgType1_1", m.msgType1_1)
                .num("slotOffset1_1", m.slotOffset1_1).num("spare2", m.spare2)
                .num("msgType1_2", m.msgType1_2).num("slotOffset1_2", m.slotOffset1_2)
                .num("spare3", m.spare3).num("destMmsi2", m.destMmsi2)
                .num("msgType2_1", m.msgType2_1).num("slotOffset2_1", m.slotOffset2_1)
                .num("spare4", m.spare4);
            break;
        }
        case 16: {
            const TMessage16& m = p.message16;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .num("destMmsiA", m.destMmsiA).num("offsetA", m.offsetA)
                .num("incrementA", m.incrementA).num("destMmsiB", m.destMmsiB)
                .num("offsetB", m.offsetB).num("incrementB", m.incrementB)
                .num("spare2", m.spare2);
            break;
        }
        case 17: {
            const TMessage17& m = p.message17;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .num("lon", m.lon).num("lat", m.lat).num("spare2", m.spare2)
                .num("dgnssType", m.dgnssType).num("stationId", m.stationId)
                .num("zCount", m.zCount).num("sequence", m.sequence)
                .num("wordCount", m.wordCount).num("health", m.health)
                .num("dataLength", m.dataLength).hex("data", m.data, m.dataLength);
            break;
        }
        case 18: {
            const TMessage18& m = p.message18;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("reserved", m.reserved)
                .num("sog", m.sog).num("accuracy", m.accuracy).num("lon", m.lon)
                .num("lat", m.lat).num("cog", m.cog).num("heading", m.heading)
                .num("second", m.second).num("regional", m.regional).num("csUnit", m.csUnit)
                .num("display", m.display).num("dsc", m.dsc).num("band", m.band)
                .num("msg22", m.msg22).num("assigned", m.assigned).num("raim", m.raim)
                .num("commSelector", m.commSelector);
            break;
        }
        case 19: {
            const TMessage19& m = p.message19;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("reserved", m.reserved)
                .num("sog", m.sog).num("accuracy", m.accuracy).num("lon", m.lon)
                .num("lat", m.lat).num("cog", m.cog).num("heading", m.heading)
                .num("second", m.second).num("regional", m.regional).text("name", m.name)
                .num("shipType", m.shipType).num("toBow", m.toBow).num("toStern", m.toStern)
                .num("toPort", m.toPort).num("toStarboard", m.toStarboard)
                .num("epfd", m.epfd).num("raim", m.raim).num("dte", m.dte)
                .num("assignedSpare", m.assignedSpare);
            break;
        }
        case 20: {
            const TMessage20& m = p.message20;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .num("offset1", m.offset1).num("slotCount1", m.slotCount1)
                .num("timeout1", m.timeout1).num("increment1", m.increment1)
                .num("offset2", m.offset2).num("slotCount2", m.slotCount2)
                .num("timeout2", m.timeout2).num("increment2", m.increment2)
                .num("offset3", m.offset3).num("slotCount3", m.slotCount3)
                .num("timeout3", m.timeout3).num("increment3", m.increment3)
                .num("offset4", m.offset4).num("slotCount4", m.slotCount4)
                .num("timeout4", m.timeout4).num("increment4", m.increment4);
            break;
        }
        case 21: {
            const TMessage21& m = p.message21;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("aidType", m.aidType)
                .text("name", m.name).num("accuracy", m.accuracy).num("lon", m.lon)
                .num("lat", m.lat).num("toBow", m.toBow).num("toStern", m.toStern)
                .num("toPort", m.toPort).num("toStarboard", m.toStarboard)
                .num("epfd", m.epfd).num("second", m.second)
                .num("offPosition", m.offPosition).num("regional", m.regional)
                .num("raim", m.raim).num("virtualAid", m.virtualAid)
                .num("assigned", m.assigned).num("spare", m.spare)
                .text("nameExtension", m.nameExtension).num("extensionBits", m.extensionBits);
            break;
        }
        case 22: d.num("repeat", p.message22.repeat).num("mmsi", p.message22.mmsi); break;
        case 23: {
            const TMessage23& m = p.message23;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("spare", m.spare)
                .num("neLon", m.neLon).num("neLat", m.neLat).num("swLon", m.swLon)
                .num("swLat", m.swLat).num("stationType", m.stationType)
                .num("shipType", m.shipType).num("spare2", m.spare2)
                .num("txRxMode", m.txRxMode).num("interval", m.interval)
                .num("quietTime", m.quietTime).num("spare3", m.spare3);
            break;
        }
        case 24: {
            const TMessage24& m = p.message24;
            d.num("repeat", m.repeat).num("mmsi", m.mmsi).num("partNumber", m.partNumber);
            if (m.partNumber == 0) {
                d.text("name", m.name);
            } else {
                d.num("shipType", m.shipType).text("vendorId", m.vendorId)
                    .text("callsign", m.callsign).num("toBow", m.toBow)
                    .num("toStern", m.toStern).num("toPort", m.toPort)
                    .num("toStarboard", m.toStarboard).num("spare", m.spare);
            }
            break;
        }
        case 27: {
            const TMessage27& m = p.message27;
            d.num("mmsi", m.mmsi).num("navStatus", m.navStatus).num("sog", m.sog)
                .num("accuracy", m.accuracy).num("lon", m.lon).num("lat", m.lat)
                .num("cog", m.cog);
            break;
        }
        default: break;  // no record: the header fields say it all
    }
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Decodes the corpus: per message "[label] parse=.. type=.. mmsi=.. bits=..",
// then the record's fields. A message that does not complete is a line too.
std::vector<std::string> decodeCorpus(const std::vector<std::string>& corpus) {
    AISParser p;
    std::vector<std::string> out;
    std::string label;
    for (const std::string& line : corpus) {
        if (line.empty()) continue;
        if (line[0] == '#') {
            label = line.substr(line.find_first_not_of("# "));
            continue;
        }
        if (p.Assemble(line.c_str()) != 1) {
            if (p.fragmentNumber == p.fragmentCount) out.push_back("[" + label + "] refused");
            continue;
        }
        const int result = p.Parse();
        Dump d;
        d.num("parse", result).num("type", p.messageType).num("mmsi", p.mmsi)
            .num("bits", p.bitLength);
        out.push_back("[" + label + "]" + d.str());
        Dump r;
        dumpRecord(r, p, result);
        if (!r.str().empty()) out.back() += " |" + r.str();
        p.Clear();
    }
    return out;
}

TEST(Golden, CorpusDecodesToTheGoldenRecords) {
    const auto corpus = readLines(kDir + "/corpus.nmea");
    ASSERT_FALSE(corpus.empty()) << "no corpus at " << kDir;
    const auto decoded = decodeCorpus(corpus);

    if (std::getenv("AISB_GOLDEN_UPDATE")) {
        std::ofstream out(kDir + "/decoded.txt");
        for (const auto& l : decoded) out << l << '\n';
        GTEST_SKIP() << "wrote " << kDir << "/decoded.txt";
    }

    const auto golden = readLines(kDir + "/decoded.txt");
    ASSERT_FALSE(golden.empty()) << "no golden file at " << kDir;
    for (size_t i = 0; i < std::max(golden.size(), decoded.size()); ++i) {
        EXPECT_EQ(i < decoded.size() ? decoded[i] : "(missing)",
                  i < golden.size() ? golden[i] : "(missing)")
            << "message " << i + 1;
    }
}

}  // namespace
