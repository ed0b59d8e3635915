#pragma once
// Packing of the KML document into a KMZ archive: a ZIP archive whose one
// deflated entry "aisBrinecastSnapshot.kml" holds the document, written to
// the archive's storage piece by piece as the document is produced.

#include <functional>
#include <string>

#include "export/kml_writer.h"
#include "zip/ZipAbstractFile.h"
#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

// The archive object of the export thread, built before main runs: opened,
// filled and closed once per export, and left closed between exports. Only
// the export thread (and tests standing in for it) may touch it.
extern CZipBundle zip;

enum class KmzStatus {
    Packed,        // `storage` holds the complete archive
    Failed,        // the ZIP library, the storage or the producer failed
};

// Produces the document: hands it to the sink it is given, piece by piece;
// false when it stopped early.
using KmlProducer = std::function<bool(const KmlSink& sink)>;

// Creates a new archive on `storage` (empty, seekable; not closed here) and
// deflates what `produce` writes into its entry. After a failure the archive
// object is closed again and `storage` holds nothing usable.
KmzStatus PackKmz(CZipAbstractFile& storage, const KmlProducer& produce);

// The archive of `kml` as bytes, built in a memory file; `archive` is empty
// after a failure.
KmzStatus PackKmz(const std::string& kml, std::string& archive);
