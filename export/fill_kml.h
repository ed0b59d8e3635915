#pragma once
// One export: the snapshot, purged of vessels not heard for longer than
// purgeSnapshotTime, written as a KML document, packed into a KMZ archive
// when useKmz is set, and written whole to "aisBrinecastSnapshot.kml" or
// "aisBrinecastSnapshot.kmz" in the export directory.

#include <ctime>

// Runs one export; true when the export file was written. The snapshot lock
// is held only to purge and copy the list. Failures are reported through the
// export reporter and end only this export; a failure inside the ZIP
// library writes nothing and leaves the previous file in place.
bool FillKml();

// The clock the export purges by; nullptr restores the system clock. The
// program installs its own clock, the one that stamps the vessels.
void SetExportClock(time_t (*source)());
