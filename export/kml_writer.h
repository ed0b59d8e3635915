#pragma once
// The KML 2.0 document of a list of vessels, for Google Earth: a fixed
// header, the icon styles, one placemark per vessel with an HTML table of
// its data, and the closing tags; UTF-8, no line breaks.

#include <ctime>
#include <string>
#include <vector>

#include "export/snapshot.h"

// "dd-mm-yyyy hh:mm:ss UTC" of t in UTC.
std::string GetDate(time_t t);

// The document for `vessels` in list order. `imagesUrl` empty: one style
// with the viewer's built-in icon; otherwise the 288 styles whose icons lie
// under that base URL, picked by ship category, course and speed. A ship
// type above 99 is shown as type 0.
std::string BuildKml(const std::vector<TVessel>& vessels, const std::string& imagesUrl);
