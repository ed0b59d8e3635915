#include "export/kmz.h"

// Until the archive writer is wired in, KMZ output is not available.
KmzStatus PackKmz(const std::string& kml, std::string& archive) {
    (void)kml;
    archive.clear();
    return KmzStatus::NotAvailable;
}
