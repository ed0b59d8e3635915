#include "export/fill_kml.h"

#include "export/export_clock.h"
#include "export/export_file.h"
#include "export/export_report.h"
#include "export/export_settings.h"
#include "export/kml_writer.h"
#include "export/kmz.h"
#include "export/snapshot.h"

#include <string>
#include <vector>

bool FillKml() {
    std::string content = BuildKml(CopySnapshotForExport(ExportNow), imagesUrlDir);

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
