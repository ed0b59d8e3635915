#pragma once
// Packing of the KML document into the bytes of a KMZ archive: a ZIP
// archive, built in memory, whose one deflated entry "aisBrinecastSnapshot.kml"
// holds the document. Nothing is written to disk here.

#include <string>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

// The archive objects of the export thread, built before main runs: opened,
// filled and closed once per export, and left empty between exports. Only
// the export thread (and tests standing in for it) may touch them.
extern CZipBundle zip;
extern CZipMemFile memFile;      // receives the archive image
extern CZipMemFile memAddToZip;  // holds the document as the entry's source

enum class KmzStatus {
    Packed,        // `archive` holds the complete archive
    Failed,        // the ZIP library failed; `archive` is empty
};

// Packs `kml` into `archive` (replacing its content).
KmzStatus PackKmz(const std::string& kml, std::string& archive);
