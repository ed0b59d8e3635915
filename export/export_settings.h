#pragma once
// Export settings: written once by the command line at start-up, read by the
// export afterwards. Only the export thread writes `dir_name` later (it
// stores the default directory there at the first export).

#include <cstdint>
#include <string>

extern uint16_t exportTime;          // export interval in seconds; 0 = export off
extern bool useKmz;                  // true: KMZ archive, false: plain KML
extern int64_t purgeSnapshotTime;    // age in seconds after which a vessel is purged
extern std::string dir_name;         // export directory; empty = default
extern std::string imagesUrlDir;     // base URL of the icons; empty = viewer's own
extern std::string path;             // directory of the executable, with its last "/"
