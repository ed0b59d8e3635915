#pragma once
// Packing of the KML document into the bytes of a KMZ archive: a ZIP
// archive, built in memory, whose one deflated entry "aisBrinecastSnapshot.kml"
// holds the document. Nothing is written to disk here.

#include <string>

enum class KmzStatus {
    Packed,        // `archive` holds the complete archive
    Failed,        // the ZIP library failed; `archive` is empty
};

// Packs `kml` into `archive` (replacing its content).
KmzStatus PackKmz(const std::string& kml, std::string& archive);
