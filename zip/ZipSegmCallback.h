#pragma once
// Supplied by a caller that writes or reads segmented archives: asked for
// the next volume (path, 1-based number, reason) and may change the path.
#include "ZipString.h"

class CZipSegmCallback {
public:
    enum SegmCodes {
        scVolumeNeededForRead = 0,
        scVolumeNeededForWrite = 1,
        scFileAlreadyExists = 2,
        scCannotSetVolLabel = 3,
        scFileCreationFailure = 4,
        scFileNotFound = 5,
    };

    virtual ~CZipSegmCallback() = default;
    // size: bytes that must fit when writing, 0 when reading, 0xFFFFFFFF for
    // the last volume. False means the user gave up.
    virtual bool OnVolumeNeeded(unsigned size) = 0;

    CZipString m_szExternalFile;
    unsigned m_uVolumeNeeded = 0;
    int m_iCode = 0;
};
