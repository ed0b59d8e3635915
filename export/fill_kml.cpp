#include "export/fill_kml.h"

#include "export/export_file.h"
#include "export/export_report.h"
#include "export/export_settings.h"
#include "export/kml_writer.h"
#include "export/kmz.h"
#include "export/snapshot.h"

#include <atomic>
#include <string>
#include <vector>

namespace {

std::atomic<time_t (*)()> clockSource{nullptr};

time_t exportNow() {
    time_t (*source)() = clockSource;
    return source ? source() : time(nullptr);
}

}  // namespace

void SetExportClock(time_t (*source)()) { clockSource = source; }

bool FillKml() {
    std::string content = BuildKml(CopySnapshotForExport(exportNow), imagesUrlDir);

    if (useKmz) {
        std::string archive;
        switch (PackKmz(content, archive)) {
            case KmzStatus::Packed:
                break;
            case KmzStatus::Failed:
                return false;
        }
        content.swap(archive);
    }

    if (!PrepareExportDirectory()) return false;
    return WriteExportFile(useKmz ? "aisBrinecastSnapshot.kmz" : "aisBrinecastSnapshot.kml", content);
}
