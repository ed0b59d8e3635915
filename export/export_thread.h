#pragma once
// The export thread: every exportTime seconds it runs one export (FillKml).
// The program starts Worker detached at start-up and, before it exits,
// calls StopExport and then FillKml once more for the final export.

#include <atomic>

#include "export/fill_kml.h"

// True while the snapshot is kept: the pipeline updates the snapshot only
// while it is set. The program sets it from exportTime before the input
// loop starts; Worker sets it too when exportTime is not 0. Never cleared.
extern std::atomic<bool> exportKmlFile;

// The export thread's body; the argument is unused. Checks once a second,
// exports every exportTime seconds (never while exportTime is 0), and
// returns only after StopExport.
void* Worker(void*);

// Asks Worker to leave its loop and blocks until it has (an export in
// progress finishes first). A Worker that starts afterwards returns at once.
void StopExport();

// Lets a new Worker run after StopExport (tests).
void ResetExportThread();
