#pragma once
// One export: the snapshot, purged of vessels not heard for longer than
// purgeSnapshotTime, written as a KML document, packed into a KMZ archive
// when useKmz is set, and written whole to "aisBrinecastSnapshot.kml" or
// "aisBrinecastSnapshot.kmz" in the export directory.

#include "export/export_clock.h"

// Runs one export; true when the export file was written. Vessels are purged
// by the export clock. The snapshot lock is held only to purge and copy the
// list. Failures are reported through the export reporter and end only this
// export; a failure inside the ZIP library writes nothing and leaves the
// previous file in place.
bool FillKml();
