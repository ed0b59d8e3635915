#include "export/snapshot.h"

#include "ais/ais_parser.h"
#include "export/export_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr time_t kNow = 1700000000;
time_t fixedClock() { return kNow; }

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearSnapshot();
        purgeSnapshotTime = 900;
        parser = std::make_unique<AISParser>();
    }
    void TearDown() override { ClearSnapshot(); }

    // A class A position report of `mmsi` at (lon, lat).
    void Position(uint32_t mmsi, int32_t lon, int32_t lat, time_t now, int type = 1) {
        parser->mmsi = mmsi;
        TMessage123& r = parser->message123;
        r = TMessage123{};
        r.mmsi = mmsi;
        r.navStatus = 5;
        r.rot = -127;
        r.sog = 123;
        r.accuracy = 1;
        r.lon = lon;
        r.lat = lat;
        r.cog = 900;
        r.heading = 91;
        AddUpdateSnapshot(*parser, type, now);
    }

    void Static5(uint32_t mmsi, time_t now) {
        parser->mmsi = mmsi;
        TMessage5& r = parser->message5;
        r = TMessage5{};
        r.mmsi = mmsi;
        r.imo = 9074729;
        std::strcpy(r.callsign, "PD6464");
        std::strcpy(r.name, "NORTHERN STAR");
        r.shipType = 70;
        r.toBow = 300;
        r.toStern = 40;
        r.toPort = 20;
        r.toStarboard = 22;
        r.eta = (12u << 16) | (24u << 11) | (6u << 6) | 30u;
        r.draught = 55;
        std::strcpy(r.destination, "ROTTERDAM");
        AddUpdateSnapshot(*parser, 5, now);
    }

    std::vector<uint64_t> Order() const {
        std::vector<uint64_t> order;
        for (const TVessel& v : snapshot) order.push_back(v.mmsi);
        return order;
    }

    const TVessel& Find(uint32_t mmsi) {
        const auto it = snapshotSearchMMSI(mmsi);
        EXPECT_NE(it, snapshot.end()) << mmsi;
        return *it;
    }

    std::unique_ptr<AISParser> parser;
};

TEST_F(SnapshotTest, FirstPositionReportAddsTemplateRecord) {
    Position(244123456, -3000000, 20000000, kNow);
    ASSERT_EQ(snapshot.size(), 1u);
    const TVessel& v = snapshot.front();
    EXPECT_EQ(v.lastSeen, kNow);
    EXPECT_EQ(v.mmsi, 244123456u);
    EXPECT_EQ(v.navStatus, 5);
    EXPECT_EQ(v.rot, -127);
    EXPECT_EQ(v.sog, 123u);
    EXPECT_EQ(v.accuracy, 1);
    EXPECT_EQ(v.lon, -3000000);  // sign kept
    EXPECT_EQ(v.lat, 20000000);
    EXPECT_EQ(v.cog, 900u);
    EXPECT_EQ(v.heading, 91u);
    EXPECT_STREQ(v.name, "244123456");
    EXPECT_STREQ(v.callsign, "");
    EXPECT_STREQ(v.destination, "");
    EXPECT_EQ(v.imo, 0);
    EXPECT_EQ(v.eta, 0);
    EXPECT_EQ(v.draught, 0);
    EXPECT_EQ(v.shipType, 0);
    EXPECT_EQ(v.toBow + v.toStern + v.toPort + v.toStarboard, 0u);
}

TEST_F(SnapshotTest, OnlyPositionReportsAddVessels) {
    struct Case {
        int type;
        bool adds;
    };
    const Case cases[] = {{1, true}, {2, true},  {3, true},  {18, true}, {19, true}, {5, false},
                          {24, false}, {4, false}, {9, false}, {27, false}, {0, false}};
    for (const Case& c : cases) {
        ClearSnapshot();
        parser->mmsi = 211000001;
        parser->message24.partNumber = 0;
        AddUpdateSnapshot(*parser, c.type, kNow);
        EXPECT_EQ(snapshot.size(), c.adds ? 1u : 0u) << "type " << c.type;
        parser->message24.partNumber = 1;
        AddUpdateSnapshot(*parser, 24, kNow);  // part B adds nothing either
        EXPECT_EQ(snapshot.size(), c.adds ? 1u : 0u) << "type " << c.type;
    }
}

TEST_F(SnapshotTest, ClassBReportClearsNavStatusAndKeepsStaticData) {
    Position(244000001, 100, 200, kNow);
    Static5(244000001, kNow + 1);
    TMessage18& r = parser->message18;
    r = TMessage18{};
    r.mmsi = 244000001;
    r.sog = 7;
    r.lon = -600000;
    r.lat = -1200000;
    r.cog = 3600;
    r.heading = 511;
    parser->mmsi = 244000001;
    AddUpdateSnapshot(*parser, 18, kNow + 2);

    const TVessel& v = Find(244000001);
    EXPECT_EQ(v.lastSeen, kNow + 2);
    EXPECT_EQ(v.navStatus, 0);
    EXPECT_EQ(v.rot, 0);
    EXPECT_EQ(v.lon, -600000);
    EXPECT_EQ(v.lat, -1200000);
    EXPECT_EQ(v.heading, 511u);
    EXPECT_STREQ(v.name, "NORTHERN STAR");
    EXPECT_EQ(v.imo, 9074729);
}

TEST_F(SnapshotTest, StaticReportSetsVoyageDataAndType19ClearsIt) {
    Position(244000002, 100, 200, kNow);
    Static5(244000002, kNow + 5);
    {
        const TVessel& v = Find(244000002);
        EXPECT_EQ(v.lastSeen, kNow + 5);
        EXPECT_EQ(v.lon, 100);  // position stays
        EXPECT_EQ(v.navStatus, 5);
        EXPECT_EQ(v.imo, 9074729);
        EXPECT_STREQ(v.callsign, "PD6464");
        EXPECT_STREQ(v.name, "NORTHERN STAR");
        EXPECT_EQ(v.shipType, 70);
        EXPECT_EQ(v.toBow, 300u);
        EXPECT_EQ(v.toStarboard, 22u);
        EXPECT_EQ(v.eta, (12 << 16) | (24 << 11) | (6 << 6) | 30);
        EXPECT_EQ(v.draught, 55);
        EXPECT_STREQ(v.destination, "ROTTERDAM");
    }

    TMessage19& r = parser->message19;
    r = TMessage19{};
    r.mmsi = 244000002;
    r.sog = 50;
    r.lon = 300;
    r.lat = 400;
    // A name that fills its field without a terminator is cut to 20 characters.
    std::memset(r.name, 'Q', sizeof r.name);
    r.shipType = 37;
    r.toBow = 8;
    r.toStern = 2;
    r.toPort = 1;
    r.toStarboard = 3;
    parser->mmsi = 244000002;
    AddUpdateSnapshot(*parser, 19, kNow + 9);

    const TVessel& v = Find(244000002);
    EXPECT_EQ(v.lastSeen, kNow + 9);
    EXPECT_EQ(v.navStatus, 0);
    EXPECT_EQ(v.lon, 300);
    EXPECT_EQ(v.sog, 50u);
    EXPECT_EQ(std::string(v.name), std::string(20, 'Q'));
    EXPECT_EQ(v.shipType, 37);
    EXPECT_EQ(v.toBow + v.toStern, 10u);
    EXPECT_EQ(v.toPort + v.toStarboard, 4u);
    EXPECT_EQ(v.imo, 0);
    EXPECT_STREQ(v.callsign, "");
    EXPECT_EQ(v.eta, 0);
    EXPECT_EQ(v.draught, 0);
    EXPECT_STREQ(v.destination, "");
}

TEST_F(SnapshotTest, Type24PartsUpdateTheirOwnFields) {
    Position(244000003, 100, 200, kNow);
    Static5(244000003, kNow + 1);

    TMessage24& r = parser->message24;
    r = TMessage24{};
    r.partNumber = 0;
    std::strcpy(r.name, "PART A");
    std::strcpy(r.callsign, "IGNORED");
    r.shipType = 52;
    parser->mmsi = 244000003;
    AddUpdateSnapshot(*parser, 24, kNow + 2);
    {
        const TVessel& v = Find(244000003);
        EXPECT_EQ(v.lastSeen, kNow + 2);
        EXPECT_STREQ(v.name, "PART A");
        EXPECT_STREQ(v.callsign, "PD6464");
        EXPECT_EQ(v.shipType, 70);
        EXPECT_EQ(v.imo, 9074729);
        EXPECT_STREQ(v.destination, "ROTTERDAM");
    }

    r = TMessage24{};
    r.partNumber = 1;
    std::strcpy(r.name, "IGNORED");
    std::strcpy(r.callsign, "CALLB");
    r.shipType = 52;
    r.toBow = 11;
    r.toStern = 12;
    r.toPort = 13;
    r.toStarboard = 14;
    AddUpdateSnapshot(*parser, 24, kNow + 3);
    const TVessel& v = Find(244000003);
    EXPECT_EQ(v.lastSeen, kNow + 3);
    EXPECT_STREQ(v.name, "PART A");
    EXPECT_STREQ(v.callsign, "CALLB");
    EXPECT_EQ(v.shipType, 52);
    EXPECT_EQ(v.toBow, 11u);
    EXPECT_EQ(v.toStern, 12u);
    EXPECT_EQ(v.toPort, 13u);
    EXPECT_EQ(v.toStarboard, 14u);
    EXPECT_EQ(v.imo, 0);
    EXPECT_EQ(v.eta, 0);
    EXPECT_EQ(v.draught, 0);
    EXPECT_STREQ(v.destination, "");
    EXPECT_EQ(v.lon, 100);  // position stays
}

TEST_F(SnapshotTest, RepeatedReportUpdatesInPlace) {
    Position(1, 10, 10, kNow);
    Position(2, 20, 20, kNow);
    Position(3, 30, 30, kNow);
    Position(2, 21, 22, kNow + 7, 3);
    EXPECT_EQ(Order(), (std::vector<uint64_t>{1, 2, 3}));
    const TVessel& v = Find(2);
    EXPECT_EQ(v.lon, 21);
    EXPECT_EQ(v.lat, 22);
    EXPECT_EQ(v.lastSeen, kNow + 7);
    EXPECT_EQ(snapshotSearchMMSI(4), snapshot.end());
}

TEST_F(SnapshotTest, PurgeRemovesStaleAndFutureVessels) {
    purgeSnapshotTime = 900;
    Position(1, 0, 0, kNow - 100);
    Position(2, 0, 0, kNow - 901);  // two stale ones side by side
    Position(3, 0, 0, kNow - 5000);
    Position(4, 0, 0, kNow - 900);  // exactly the limit: kept
    Position(5, 0, 0, kNow + 60);   // from the future (clock set back)
    Position(6, 0, 0, kNow - 2000);

    PurgeSnapshot(kNow);
    EXPECT_EQ(Order(), (std::vector<uint64_t>{1, 4}));
    EXPECT_EQ(snapshotSearchMMSI(3), snapshot.end());

    // A purged vessel heard again comes back at the end of the list.
    Position(2, 0, 0, kNow);
    EXPECT_EQ(Order(), (std::vector<uint64_t>{1, 4, 2}));
}

TEST_F(SnapshotTest, PurgeOfMostVesselsRebuildsTheSnapshotIntact) {
    // Most vessels purged: the survivors move into a fresh list and index.
    for (const bool byExport : {false, true}) {
        ClearSnapshot();
        std::vector<uint64_t> survivors;
        for (uint32_t mmsi = 1; mmsi <= 1000; ++mmsi) {
            const bool lives = mmsi % 10 == 3;
            Position(mmsi, static_cast<int32_t>(mmsi), 0, lives ? kNow : kNow - 5000);
            if (lives) {
                Static5(mmsi, kNow);
                survivors.push_back(mmsi);
            }
        }
        if (byExport) {
            EXPECT_EQ(CopySnapshotForExport(fixedClock).size(), survivors.size());
        } else {
            PurgeSnapshot(kNow);
        }
        EXPECT_EQ(Order(), survivors) << byExport;
        for (const uint64_t mmsi : survivors) {
            const TVessel& v = Find(static_cast<uint32_t>(mmsi));
            EXPECT_EQ(v.lon, static_cast<int32_t>(mmsi));
            EXPECT_STREQ(v.destination, "ROTTERDAM");
        }
        EXPECT_EQ(snapshotSearchMMSI(4), snapshot.end());
        // The index leads to the new records: an update lands in place.
        Position(503, -7, 0, kNow);
        EXPECT_EQ(Find(503).lon, -7);
        EXPECT_EQ(snapshot.size(), survivors.size());
    }
}

TEST_F(SnapshotTest, ExportCopyPurgesAndClampsShipType) {
    Position(1, 0, 0, kNow);
    Position(2, 0, 0, kNow - 10000);
    parser->mmsi = 1;
    parser->message24 = TMessage24{};
    parser->message24.partNumber = 1;
    parser->message24.shipType = 120;
    AddUpdateSnapshot(*parser, 24, kNow);

    const VesselList copy = CopySnapshotForExport(fixedClock);
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_EQ(copy[0].mmsi, 1u);
    EXPECT_EQ(copy[0].shipType, 0);
    EXPECT_EQ(Find(1).shipType, 0);
    EXPECT_EQ(snapshot.size(), 1u);
}

}  // namespace
