#pragma once
// The export's clock: the export thread times its intervals by it and the
// export purges by it. The program installs its own clock, the one that
// stamps the vessels; tests install one they move by hand.

#include <ctime>

// nullptr restores the system clock (`time`).
void SetExportClock(time_t (*source)());

// The current time of the installed clock.
time_t ExportNow();
