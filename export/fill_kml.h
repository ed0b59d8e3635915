#pragma once
// One export: the snapshot, purged of vessels not heard for longer than
// purgeSnapshotTime, written as a KML document, packed into a KMZ archive
// when useKmz is set, to "aisBrinecastSnapshot.kml" or
// "aisBrinecastSnapshot.kmz" in the export directory. The document streams
// into the file's temporary as it is produced.

#include "export/export_clock.h"

// Runs one export; true when the export file was written. Vessels are purged
// by the export clock. The snapshot lock is held only to purge and copy the
// list. Failures are reported through the export reporter and end only this
// export; any failure, inside the ZIP library too, leaves the previous file
// in place and no temporary behind. The first export of a process that the
// export thread has not preceded removes what killed exports left
// (RemoveStaleExportTemporariesOnce).
bool FillKml();
