#include "export/kml_writer.h"

#include "export/ship_tables.h"
#include "export/xml_escape.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string& out, const char* format, ...) {
    char buffer[128];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) out.append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

// A float in the general notation with 6 significant digits (12.3, 360, 5.5).
void appendGeneral(std::string& out, float value) { appendf(out, "%g", static_cast<double>(value)); }

void appendStyleMap(std::string& out, const std::string& id, const std::string& href,
                    const char* iconSize) {
    const std::string icon = "<Icon><href>" + href + "</href><x>" + iconSize + "</x><y>0</y><w>" +
                             iconSize + "</w><h>" + iconSize + "</h></Icon>";
    out += "<StyleMap id=\"";
    out += id;
    out += "\"><Pair><key>normal</key><Style><LabelStyle><scale>0</scale></LabelStyle><IconStyle>";
    out += icon;
    out += "</IconStyle></Style></Pair><Pair><key>highlight</key><Style><LabelStyle><scale>1</scale>"
           "</LabelStyle><IconStyle>";
    out += icon;
    out += "</IconStyle></Style></Pair></StyleMap>";
}

// The styles, handing full pieces to `flushFull` on the way (288 styles
// of a long images URL are more than one piece).
template <typename Flush>
bool appendStyles(std::string& out, const std::string& imagesUrl, Flush& flushFull) {
    if (imagesUrl.empty()) {
        appendStyleMap(out, "IConFile", "root://icons/palette-4.png", "32");
        return true;
    }
    std::string base;
    AppendXmlEscaped(base, imagesUrl);
    for (int category = 0; category < 8; ++category) {
        for (int direction = 0; direction < 32; ++direction) {
            const std::string n = std::to_string(direction) + std::to_string(category);
            appendStyleMap(out, "ICon" + n, base + "/" + n + ".png", "33");
            if (!flushFull()) return false;
        }
    }
    for (int j = 0; j < 32; ++j) {
        const std::string n = "32" + std::to_string(j);
        appendStyleMap(out, "ICon" + n, base + "/" + n + ".png", "33");
        if (!flushFull()) return false;
    }
    return true;
}

void appendRow(std::string& out, const char* label) {
    out += "<tr><td>";
    out += label;
    out += "</td><td>";
}

void appendPlacemark(std::string& out, const TVessel& v, bool ownIcons) {
    const float course = static_cast<float>(v.cog / 10.0);
    const float sector = 32.0f * course;
    const int direction = static_cast<int>(std::floor(sector / 360.0 + 0.5)) % 32;
    const double lon = v.lon / 600000.0;
    const double lat = v.lat / 600000.0;
    const float speed = static_cast<float>(v.sog / 10.0);
    const float draught = static_cast<float>(v.draught / 10.0);
    const unsigned length = v.toBow + v.toStern;
    const unsigned width = v.toPort + v.toStarboard;
    const TShipType& type = shipTypes[v.shipType > 99 ? 0 : v.shipType];
    const std::string_view name(v.name, strnlen(v.name, sizeof v.name));

    out += "<Placemark><description><![CDATA[<table cellpadding=\"0\" cellspacing=\"1\" width=\"350\">";
    appendRow(out, "Last seen at");
    out += GetDate(v.lastSeen);
    out += "</td></tr>";
    appendRow(out, "Name");
    AppendXmlEscaped(out, name);
    out += "</td></tr>";
    appendRow(out, "MMSI");
    out += std::to_string(v.mmsi);
    out += "</td></tr>";
    appendRow(out, "Callsign");
    AppendXmlEscaped(out, std::string_view(v.callsign, strnlen(v.callsign, sizeof v.callsign)));
    out += "</td></tr>";
    appendRow(out, "IMO");
    out += std::to_string(v.imo);
    out += "</td></tr>";
    appendRow(out, "Type");
    out += type.text;
    out += "</td></tr>";
    appendRow(out, "Navstat");
    out += navStatus[v.navStatus & 0x0f];
    out += "</td></tr>";
    appendRow(out, "Dest");
    AppendXmlEscaped(out, std::string_view(v.destination, strnlen(v.destination, sizeof v.destination)));
    out += "</td></tr>";
    appendRow(out, "Eta (dd-mm hh:mm)");
    if (v.eta != 0) {
        const unsigned long eta = static_cast<unsigned long>(v.eta);
        appendf(out, "%02lu-%02lu %02lu:%02lu", (eta >> 11) & 0x1f, (eta >> 16) & 0x0f,
                (eta >> 6) & 0x1f, eta & 0x3f);
    } else {
        out += "\?\?-\?\? \?\?:\?\?";
    }
    out += "</td></tr>";
    appendRow(out, "Position");
    appendf(out, "%09.06f &#xb0;%c / %010.06f &#xb0;%c", lat, v.lat <= 0 ? 'S' : 'N', lon,
            v.lon <= 0 ? 'W' : 'E');
    out += "</td></tr>";
    appendRow(out, "Speed");
    appendGeneral(out, speed);
    out += "kts</td></tr>";
    appendRow(out, "Course");
    appendGeneral(out, course);
    out += "&#xb0;</td></tr>";
    appendRow(out, "Heading");
    out += std::to_string(v.heading);
    out += "&#xb0;</td></tr>";
    appendRow(out, "Length");
    out += std::to_string(length);
    out += " m</td></tr>";
    appendRow(out, "Width");
    out += std::to_string(width);
    out += " m</td></tr>";
    appendRow(out, "Draught");
    appendGeneral(out, draught);
    out += " m</td></tr></table>]]></description><name>";
    AppendXmlEscaped(out, name);
    out += "</name><styleUrl>#ICon";
    if (!ownIcons) {
        out += "File";
    } else if (speed > 1.0) {
        out += std::to_string(direction);
        out += std::to_string(type.category);
    } else {
        out += "32";
        out += std::to_string(type.category);
    }
    // Fixed decimals: six significant digits would put a vessel at 100
    // degrees or more up to 55 m off.
    out += "</styleUrl><visibility>1</visibility><Point><altitudeMode>absolute</altitudeMode><coordinates>";
    appendf(out, "%.6f,%.6f", lon, lat);
    out += ",0.0</coordinates></Point></Placemark>";
}

}  // namespace

std::string GetDate(time_t t) {
    struct tm tm {};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d UTC", tm.tm_mday, tm.tm_mon + 1,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

bool WriteKml(const VesselList& vessels, const std::string& imagesUrl, const KmlSink& sink) {
    // A piece goes out once it passes kKmlPiece, so one placemark or style
    // past that is all the buffer ever holds beyond it.
    std::string out;
    out.reserve(2 * kKmlPiece);
    auto flushFull = [&]() {
        if (out.size() < kKmlPiece) return true;
        const bool taken = sink(out.data(), out.size());
        out.clear();
        return taken;
    };
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?><kml xmlns=\"http://earth.google.com/kml/2.0\"><Document>";
    if (!appendStyles(out, imagesUrl, flushFull)) return false;
    for (const TVessel& v : vessels) {
        appendPlacemark(out, v, !imagesUrl.empty());
        if (!flushFull()) return false;
    }
    out += "</Document></kml>";
    return sink(out.data(), out.size());
}

std::string BuildKml(const VesselList& vessels, const std::string& imagesUrl) {
    std::string document;
    WriteKml(vessels, imagesUrl, [&](const char* data, size_t size) {
        document.append(data, size);
        return true;
    });
    return document;
}
