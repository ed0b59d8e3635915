#pragma once
// The export thread: every exportTime seconds of the export clock it runs
// one export (FillKml). The program starts Worker detached at start-up and,
// before it exits, calls StopExport and then FillKml once more for the final
// export.

#include <atomic>

#include "export/fill_kml.h"

// True while the snapshot is kept: the pipeline updates the snapshot only
// while it is set. The program sets it from exportTime before the input
// loop starts; Worker sets it too when exportTime is not 0. Never cleared.
extern std::atomic<bool> exportKmlFile;

// The export thread's body; the argument is unused. When exportTime is not
// 0, first removes what killed exports left in the export directory
// (RemoveStaleExportTemporariesOnce). Takes the export clock's time as the
// start of the first period, then checks once a second: when
// the clock shows at least exportTime seconds since the period began (taken
// as unsigned, so a clock set back exports at once), it starts a new period
// and exports. Never exports while exportTime is 0. Returns only after
// StopExport.
void* Worker(void*);

// Asks Worker to leave its loop and blocks until it has (an export in
// progress finishes first). A Worker that starts afterwards returns at once.
void StopExport();

// Lets a new Worker run after StopExport (tests).
void ResetExportThread();

// Tests: wakes Worker for one check now, as if its second had passed, and
// waits until a check that began after this call is over, the export it
// started included. A Worker that has not started yet makes that check when
// it starts. False at once after StopExport, or when no check ended within
// 10 seconds.
bool CheckExportNow();
