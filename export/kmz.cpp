#include "export/kmz.h"

#include "zip/ZipException.h"
#include "zip/ZipFileHeader.h"

#include <algorithm>
#include <cstdlib>

CZipBundle zip;

namespace {

const char kEntryName[] = "aisBrinecastSnapshot.kml";

// After a failure nothing of this export's archive may survive into the next.
void abandon() {
    try {
        zip.Close(CZipBundle::afAfterException, false);
    } catch (const CZipException&) {
    }
}

}  // namespace

KmzStatus PackKmz(CZipAbstractFile& storage, const KmlProducer& produce) {
    try {
        if (!zip.Open(storage, CZipBundle::zipCreate, false)) {
            abandon();
            return KmzStatus::Failed;
        }
        CZipFileHeader header;
        header.SetFileName(kEntryName);
        if (!zip.OpenNewFile(header, 9)) {
            abandon();
            return KmzStatus::Failed;
        }
        unsigned long long total = 0;
        const bool produced = produce([&total](const char* data, size_t size) {
            total += size;
            if (total > kMaxZipOffset) return false;
            while (size > 0) {
                const unsigned n = static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
                zip.WriteNewFile(data, n);
                data += n;
                size -= n;
            }
            return true;
        });
        if (!produced) {
            abandon();
            return KmzStatus::Failed;
        }
        zip.CloseNewFile(false);
        zip.Close(CZipBundle::afNoException, false);
        return KmzStatus::Packed;
    } catch (const CZipException&) {
        abandon();
        return KmzStatus::Failed;
    }
}

KmzStatus PackKmz(const std::string& kml, std::string& archive) {
    archive.clear();
    CZipMemFile image(1024);
    const KmzStatus status =
        PackKmz(image, [&kml](const KmlSink& sink) { return sink(kml.data(), kml.size()); });
    if (status != KmzStatus::Packed) return status;
    size_t length = 0;
    char* bytes = image.TakeBuffer(length);
    archive.assign(bytes ? bytes : "", length);
    std::free(bytes);
    return status;
}
