#include "export/kmz.h"

#include "zip/ZipException.h"

#include <cstdlib>
#include <limits>

CZipBundle zip;
CZipMemFile memFile(1024);
CZipMemFile memAddToZip(1024);

namespace {

const char kEntryName[] = "aisBrinecastSnapshot.kml";

// After a failure nothing of this export's archive may survive into the next.
void abandon() {
    try {
        zip.Close(CZipBundle::afAfterException, false);
    } catch (const CZipException&) {
    }
    memFile.Reset(1024);
    memAddToZip.Reset(1024);
}

}  // namespace

KmzStatus PackKmz(const std::string& kml, std::string& archive) {
    archive.clear();
    memFile.Reset(1024);
    memAddToZip.Reset(1024);
    if (kml.size() > std::numeric_limits<unsigned>::max()) return KmzStatus::Failed;
    try {
        if (!zip.Open(memFile, CZipBundle::zipCreate, false)) {
            abandon();
            return KmzStatus::Failed;
        }
        memAddToZip.Write(kml.data(), static_cast<unsigned>(kml.size()));
        if (!zip.AddNewFile(memAddToZip, kEntryName, 9, 7, 65536)) {
            abandon();
            return KmzStatus::Failed;
        }
        zip.Close(CZipBundle::afNoException, false);
        size_t length = 0;
        char* image = memFile.TakeBuffer(length);
        archive.assign(image ? image : "", length);
        std::free(image);
        memAddToZip.Close();
        return KmzStatus::Packed;
    } catch (const CZipException&) {
        abandon();
        archive.clear();
        return KmzStatus::Failed;
    }
}
