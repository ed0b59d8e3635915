#include "export/kml_writer.h"

#include "export_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using exporttest::XmlLintErrors;

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><kml xmlns=\"http://earth.google.com/kml/2.0\"><Document>";
const std::string kBuiltInStyle =
    "<StyleMap id=\"IConFile\"><Pair><key>normal</key><Style><LabelStyle><scale>0</scale></LabelStyle>"
    "<IconStyle><Icon><href>root://icons/palette-4.png</href><x>32</x><y>0</y><w>32</w><h>32</h></Icon>"
    "</IconStyle></Style></Pair><Pair><key>highlight</key><Style><LabelStyle><scale>1</scale></LabelStyle>"
    "<IconStyle><Icon><href>root://icons/palette-4.png</href><x>32</x><y>0</y><w>32</w><h>32</h></Icon>"
    "</IconStyle></Style></Pair></StyleMap>";
const std::string kEnd = "</Document></kml>";

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
    return s;
}

// Three vessels: texts full of XML's special characters, a vessel that has
// sent no static data (after one with an ETA), and one past 100 degrees east.
VesselList Fixture() {
    VesselList list(3);
    TVessel& a = list[0];
    a = TVessel{};
    a.lastSeen = 1700000000;
    a.mmsi = 244123456;
    a.navStatus = 8;
    a.sog = 123;
    a.lon = 3000000;
    a.lat = -20000000;
    a.cog = 3600;
    a.heading = 511;
    a.imo = 9074729;
    std::strcpy(a.callsign, "C&'<>\"");
    std::strcpy(a.name, "A&B <\"x\"> 'y' ]]>");
    a.shipType = 70;
    a.toBow = 100;
    a.toStern = 20;
    a.toPort = 10;
    a.toStarboard = 12;
    a.eta = (12 << 16) | (24 << 11) | (6 << 6) | 30;
    a.draught = 55;
    std::strcpy(a.destination, "]]>&<'\"");

    TVessel& b = list[1];
    b = TVessel{};
    b.lastSeen = 951782400;
    b.mmsi = 257000000;
    std::strcpy(b.name, "257000000");
    b.navStatus = 15;
    b.shipType = 120;

    TVessel& c = list[2];
    c = TVessel{};
    c.lastSeen = 1700086399;
    c.mmsi = 9;
    std::strcpy(c.name, "OK");
    std::strcpy(c.callsign, "X");
    std::strcpy(c.destination, "Y");
    c.imo = 1;
    c.navStatus = 1;
    c.lat = 30000000;
    c.lon = 60073333;
    c.sog = 10;
    c.cog = 900;
    c.heading = 90;
    c.shipType = 36;
    c.toBow = 5;
    c.toStern = 5;
    c.toPort = 2;
    c.toStarboard = 2;
    c.eta = (1 << 16) | (1 << 11);
    c.draught = 1;
    return list;
}

// The placemarks of Fixture(), each with its style reference in place of @A@, @B@, @C@.
const std::string kFixturePlacemarks =
    "<Placemark><description><![CDATA[<table cellpadding=\"0\" cellspacing=\"1\" width=\"350\">"
    "<tr><td>Last seen at</td><td>14-11-2023 22:13:20 UTC</td></tr>"
    "<tr><td>Name</td><td>A&amp;B &lt;&quot;x&quot;&gt; &apos;y&apos; ]]&gt;</td></tr>"
    "<tr><td>MMSI</td><td>244123456</td></tr>"
    "<tr><td>Callsign</td><td>C&amp;&apos;&lt;&gt;&quot;</td></tr>"
    "<tr><td>IMO</td><td>9074729</td></tr>"
    "<tr><td>Type</td><td>Cargo ship</td></tr>"
    "<tr><td>Navstat</td><td>Underway</td></tr>"
    "<tr><td>Dest</td><td>]]&gt;&amp;&lt;&apos;&quot;</td></tr>"
    "<tr><td>Eta (dd-mm hh:mm)</td><td>24-12 06:30</td></tr>"
    "<tr><td>Position</td><td>-33.333333 &#xb0;S / 005.000000 &#xb0;E</td></tr>"
    "<tr><td>Speed</td><td>12.3kts</td></tr>"
    "<tr><td>Course</td><td>360&#xb0;</td></tr>"
    "<tr><td>Heading</td><td>511&#xb0;</td></tr>"
    "<tr><td>Length</td><td>120 m</td></tr>"
    "<tr><td>Width</td><td>22 m</td></tr>"
    "<tr><td>Draught</td><td>5.5 m</td></tr>"
    "</table>]]></description>"
    "<name>A&amp;B &lt;&quot;x&quot;&gt; &apos;y&apos; ]]&gt;</name>"
    "<styleUrl>@A@</styleUrl><visibility>1</visibility><Point><altitudeMode>absolute</altitudeMode>"
    "<coordinates>5.000000,-33.333333,0.0</coordinates></Point></Placemark>"

    "<Placemark><description><![CDATA[<table cellpadding=\"0\" cellspacing=\"1\" width=\"350\">"
    "<tr><td>Last seen at</td><td>29-02-2000 00:00:00 UTC</td></tr>"
    "<tr><td>Name</td><td>257000000</td></tr>"
    "<tr><td>MMSI</td><td>257000000</td></tr>"
    "<tr><td>Callsign</td><td></td></tr>"
    "<tr><td>IMO</td><td>0</td></tr>"
    "<tr><td>Type</td><td>Unknown</td></tr>"
    "<tr><td>Navstat</td><td>Unknown</td></tr>"
    "<tr><td>Dest</td><td></td></tr>"
    "<tr><td>Eta (dd-mm hh:mm)</td><td>\?\?-\?\? \?\?:\?\?</td></tr>"
    "<tr><td>Position</td><td>00.000000 &#xb0;S / 000.000000 &#xb0;W</td></tr>"
    "<tr><td>Speed</td><td>0kts</td></tr>"
    "<tr><td>Course</td><td>0&#xb0;</td></tr>"
    "<tr><td>Heading</td><td>0&#xb0;</td></tr>"
    "<tr><td>Length</td><td>0 m</td></tr>"
    "<tr><td>Width</td><td>0 m</td></tr>"
    "<tr><td>Draught</td><td>0 m</td></tr>"
    "</table>]]></description>"
    "<name>257000000</name>"
    "<styleUrl>@B@</styleUrl><visibility>1</visibility><Point><altitudeMode>absolute</altitudeMode>"
    "<coordinates>0.000000,0.000000,0.0</coordinates></Point></Placemark>"

    "<Placemark><description><![CDATA[<table cellpadding=\"0\" cellspacing=\"1\" width=\"350\">"
    "<tr><td>Last seen at</td><td>15-11-2023 22:13:19 UTC</td></tr>"
    "<tr><td>Name</td><td>OK</td></tr>"
    "<tr><td>MMSI</td><td>9</td></tr>"
    "<tr><td>Callsign</td><td>X</td></tr>"
    "<tr><td>IMO</td><td>1</td></tr>"
    "<tr><td>Type</td><td>Sailing vessel</td></tr>"
    "<tr><td>Navstat</td><td>At anchor</td></tr>"
    "<tr><td>Dest</td><td>Y</td></tr>"
    "<tr><td>Eta (dd-mm hh:mm)</td><td>01-01 00:00</td></tr>"
    "<tr><td>Position</td><td>50.000000 &#xb0;N / 100.122222 &#xb0;E</td></tr>"
    "<tr><td>Speed</td><td>1kts</td></tr>"
    "<tr><td>Course</td><td>90&#xb0;</td></tr>"
    "<tr><td>Heading</td><td>90&#xb0;</td></tr>"
    "<tr><td>Length</td><td>10 m</td></tr>"
    "<tr><td>Width</td><td>4 m</td></tr>"
    "<tr><td>Draught</td><td>0.1 m</td></tr>"
    "</table>]]></description>"
    "<name>OK</name>"
    "<styleUrl>@C@</styleUrl><visibility>1</visibility><Point><altitudeMode>absolute</altitudeMode>"
    "<coordinates>100.122222,50.000000,0.0</coordinates></Point></Placemark>";

// One style map of the -W set, written out piece by piece.
std::string StyleMap(const std::string& n, const std::string& base) {
    const std::string icon = "<Icon><href>" + base + "/" + n +
                             ".png</href><x>33</x><y>0</y><w>33</w><h>33</h></Icon>";
    return "<StyleMap id=\"ICon" + n + "\"><Pair><key>normal</key><Style><LabelStyle><scale>0</scale>"
           "</LabelStyle><IconStyle>" + icon + "</IconStyle></Style></Pair><Pair><key>highlight</key>"
           "<Style><LabelStyle><scale>1</scale></LabelStyle><IconStyle>" + icon +
           "</IconStyle></Style></Pair></StyleMap>";
}

size_t Count(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

TEST(KmlWriter, EmptySnapshot) {
    const std::string doc = BuildKml({}, "");
    EXPECT_EQ(doc, kHeader + kBuiltInStyle + kEnd);
    EXPECT_EQ(XmlLintErrors(doc), "");

    const std::string withIcons = BuildKml({}, "http://icons.example");
    EXPECT_EQ(Count(withIcons, "<StyleMap "), 288u);
    EXPECT_EQ(Count(withIcons, "<Placemark>"), 0u);
    EXPECT_EQ(XmlLintErrors(withIcons), "");
}

TEST(KmlWriter, FixtureWithBuiltInIcon) {
    const std::string doc = BuildKml(Fixture(), "");
    std::string placemarks = replaced(kFixturePlacemarks, "@A@", "#IConFile");
    placemarks = replaced(placemarks, "@B@", "#IConFile");
    placemarks = replaced(placemarks, "@C@", "#IConFile");
    EXPECT_EQ(doc, kHeader + kBuiltInStyle + placemarks + kEnd);
    EXPECT_EQ(doc.find('\n'), std::string::npos);
    EXPECT_EQ(XmlLintErrors(doc), "");
}

TEST(KmlWriter, FixtureWithImagesUrl) {
    // The -W text is escaped like every other text.
    const std::string url = "http://h/i?a=1&b='2'";
    const std::string base = "http://h/i?a=1&amp;b=&apos;2&apos;";
    const std::string doc = BuildKml(Fixture(), url);

    std::string styles;
    for (int category = 0; category < 8; ++category) {
        for (int direction = 0; direction < 32; ++direction) {
            styles += StyleMap(std::to_string(direction) + std::to_string(category), base);
        }
    }
    for (int j = 0; j < 32; ++j) styles += StyleMap("32" + std::to_string(j), base);

    // Moving at course 360 (sector 32 wraps to 0), cargo; stopped, unknown
    // (type 120); exactly 1.0 knot counts as stopped, sailing vessel.
    std::string placemarks = replaced(kFixturePlacemarks, "@A@", "#ICon04");
    placemarks = replaced(placemarks, "@B@", "#ICon320");
    placemarks = replaced(placemarks, "@C@", "#ICon323");
    EXPECT_EQ(doc, kHeader + styles + placemarks + kEnd);
    EXPECT_EQ(XmlLintErrors(doc), "");
}

TEST(KmlWriter, StyleFollowsSpeedCourseAndCategory) {
    struct Case {
        uint32_t sog;
        uint32_t cog;
        uint8_t shipType;
        const char* style;
    };
    const Case cases[] = {
        {5, 900, 70, "#ICon324"},    // 0.5 knot: stationary
        {10, 900, 70, "#ICon324"},   // 1.0 knot: stationary
        {11, 900, 70, "#ICon84"},
        {123, 900, 70, "#ICon84"},
        {123, 3590, 70, "#ICon04"},  // 359 degrees rounds to sector 0
        {123, 56, 80, "#ICon06"},    // 5.6 degrees: still sector 0
        {123, 57, 80, "#ICon16"},    // 5.7 degrees: sector 1
        {123, 1800, 30, "#ICon161"},
        {123, 4095, 52, "#ICon41"},  // beyond 360 wraps around
        {123, 900, 33, "#ICon87"},
    };
    for (const Case& c : cases) {
        TVessel v{};
        v.mmsi = 1;
        v.sog = c.sog;
        v.cog = c.cog;
        v.shipType = c.shipType;
        const std::string doc = BuildKml({v}, "icons");
        EXPECT_NE(doc.find(std::string("<styleUrl>") + c.style + "</styleUrl>"), std::string::npos)
            << c.sog << " " << c.cog << " " << int(c.shipType);
    }
}

TEST(GetDate, DayFirstInUtc) {
    struct Case {
        time_t t;
        const char* text;
    };
    const Case cases[] = {
        {0, "01-01-1970 00:00:00 UTC"},
        {951782400, "29-02-2000 00:00:00 UTC"},
        {1700000000, "14-11-2023 22:13:20 UTC"},
    };
    for (const Case& c : cases) EXPECT_EQ(GetDate(c.t), c.text);
}

}  // namespace
