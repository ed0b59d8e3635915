#include "export/fill_kml.h"

#include "export/export_clock.h"
#include "export/export_file.h"
#include "export/export_settings.h"
#include "export/kml_writer.h"
#include "export/kmz.h"
#include "export/snapshot.h"
#include "zip/ZipFile.h"

#include <malloc.h>

#include <string>
#include <vector>

namespace {

// The export file's temporary as the archive's storage. The descriptor
// stays the export file's: neither the archive nor this object closes it.
class BorrowedZipFile : public CZipFile {
public:
    BorrowedZipFile(int fd, const std::string& name) {
        m_iDescriptor = fd;
        m_szPath = name.c_str();
    }
    ~BorrowedZipFile() override { m_iDescriptor = -1; }
    void Close() override { m_iDescriptor = -1; }
};

bool exportOnce() {
    const VesselList vessels = CopySnapshotForExport(ExportNow);
    if (!PrepareExportDirectory()) return false;
    RemoveStaleExportTemporariesOnce();  // unless the export thread did already
    ExportFile file(useKmz ? kKmzExportName : kKmlExportName);
    if (!file.Created()) return false;

    // The document goes out as it is produced, never whole in memory.
    if (useKmz) {
        BorrowedZipFile storage(file.Descriptor(), file.Name());
        const KmzStatus status = PackKmz(storage, [&vessels](const KmlSink& sink) {
            return WriteKml(vessels, imagesUrlDir, sink);
        });
        return file.Commit(status == KmzStatus::Packed);
    }
    const bool written = WriteKml(vessels, imagesUrlDir, [&file](const char* data, size_t size) {
        return file.Write(data, size);
    });
    return file.Commit(written);
}

}  // namespace

bool FillKml() {
    const bool written = exportOnce();
    // The copy of the snapshot and the writers' buffers are freed by now;
    // malloc keeps such blocks in its heap unless told to give them back.
    malloc_trim(0);
    return written;
}
