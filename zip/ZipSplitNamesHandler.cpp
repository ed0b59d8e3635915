#include "ZipSplitNamesHandler.h"

#include <cerrno>
#include <cstdlib>

#include "ZipPathComponent.h"

namespace {
// The path with the extension of its last component replaced (or added):
// only the name changes, never the directory, so "/a.zip" stays in "/".
CZipString WithExtension(const CZipString& path, const CZipString& ext) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    CZipString result = path;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) result = path.Left(int(dot));
    if (!ext.IsEmpty()) {
        result += '.';
        result += ext;
    }
    return result;
}
}  // namespace

void CZipRegularSplitNamesHandler::Initialize(const CZipString& archivePath) {
    m_szExt = CZipPathComponent(archivePath).GetFileExt();
}

CZipString CZipRegularSplitNamesHandler::GetVolumeName(const CZipString& archivePath, unsigned short volumeNumber,
                                                       ZipLib::CBitFlag flags) const {
    if (flags.IsSetAny(flLast)) return WithExtension(archivePath, m_szExt);
    CZipString ext;
    ext.Format(volumeNumber < 100 ? "z%.2u" : "z%u", unsigned(volumeNumber));
    return WithExtension(archivePath, ext);
}

CZipString CZipBinSplitNamesHandler::GetVolumeName(const CZipString& archivePath, unsigned short volumeNumber,
                                                   ZipLib::CBitFlag flags) const {
    CZipString number;
    number.Format(volumeNumber < 1000 ? "%.3u" : "%u", unsigned(volumeNumber));
    if (flags.IsSetAny(flExisting)) return WithExtension(archivePath, number);
    return archivePath + "." + number;
}

unsigned CZipBinSplitNamesHandler::GetVolumeNumber(const CZipString& volumePath) const {
    CZipString ext = CZipPathComponent(volumePath).GetFileExt();
    ext.MakeLower();
    if (ext.GetLength() <= 2) return 0;
    for (char c : ext)
        if (c < '0' || c > '9') return 0;
    errno = 0;
    char* end = nullptr;
    unsigned long long n = std::strtoull(ext, &end, 10);
    if (errno != 0 || *end != '\0' || n < 1 || n > 0xFFFFFFFFull) return 0;
    return unsigned(n);
}
