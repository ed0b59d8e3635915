#pragma once
// The KML 2.0 document of a list of vessels, for Google Earth: a fixed
// header, the icon styles, one placemark per vessel with an HTML table of
// its data, and the closing tags; UTF-8, no line breaks.

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "export/snapshot.h"

// "dd-mm-yyyy hh:mm:ss UTC" of t in UTC.
std::string GetDate(time_t t);

// The document for `vessels` in list order. `imagesUrl` empty: one style
// with the viewer's built-in icon; otherwise the 288 styles whose icons lie
// under that base URL, picked by ship category, course and speed. A ship
// type above 99 is shown as type 0.
std::string BuildKml(const VesselList& vessels, const std::string& imagesUrl);

// Takes the document piece by piece, in order; false stops the writing.
using KmlSink = std::function<bool(const char* data, size_t size)>;

// The same document handed to `sink` in pieces of about kKmlPiece bytes as
// it is produced, so that it is never held whole. False when the sink
// refused a piece; nothing more is produced then.
bool WriteKml(const VesselList& vessels, const std::string& imagesUrl, const KmlSink& sink);

constexpr size_t kKmlPiece = 64 * 1024;
