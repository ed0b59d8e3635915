#pragma once
// The one way the archive library reports failure: an exception with a
// numeric code, the path concerned and the errno of the moment.
#include <exception>

#include "ZipString.h"

class CZipException : public std::exception {
public:
    enum ZipErrors {
        noError = 0,
        // 1..30: Linux errno values of a failing system call.
        genericError = 200,
        badZipFile = 201,
        badCrc = 202,
        noCallback = 203,
        noVolumeSize = 204,
        aborted = 205,        // volume change aborted
        abortedAction = 206,
        abortedSafely = 207,
        nonRemovable = 208,
        tooManyVolumes = 209,
        tooManyFiles = 210,
        tooLongData = 211,
        tooBigSize = 212,
        badPassword = 213,
        dirWithSize = 214,
        internalError = 215,
        fileError = 216,
        notFound = 217,
        notRemoved = 218,
        notRenamed = 219,
        platfNotSupp = 220,
        cdirNotFound = 221,
        noZip64 = 222,
        noAES = 223,
        outOfBounds = 224,
        overlappingEntries = 225,  // an entry shares bytes with another
        specialFile = 226,         // a FIFO, socket or device where a file was asked for
        streamEnd = 500,
        needDict = 501,
        errNo = 502,
        streamError = 503,
        dataError = 504,
        memError = 505,
        bufError = 506,
        versionError = 507,
    };

    CZipException(int code = genericError, const char* filePath = nullptr);
    CZipException(const CZipException&) = default;
    CZipException& operator=(const CZipException&) = default;
    ~CZipException() override = default;

    [[noreturn]] static void Throw(int code = genericError, const char* filePath = nullptr);

    // The description of m_iCode, cut to maxChars - 1 characters; false when
    // nothing can be written.
    bool GetErrorMessage(char* buffer, unsigned maxChars, unsigned* helpContext = nullptr) const;
    CZipString GetErrorDescription() const;
    // Describes the errno current at the time of the call.
    static CZipString GetSystemErrorDescription();
    static CZipString GetInternalErrorDescription(int code, bool noLoop = false);

    CZipString m_szPath;
    int m_iCode;
    int m_iErrno;
};
