#include "ZipException.h"

#include <cerrno>
#include <cstring>

CZipException::CZipException(int code, const char* path)
    : m_szPath(path), m_iCode(code), m_iErrno(errno) {}

void CZipException::Throw(int code, const char* path) { throw CZipException(code, path); }

bool CZipException::GetErrorMessage(char* buffer, unsigned maxChars, unsigned*) const {
    if (!buffer || maxChars == 0) return false;
    CZipString text = GetErrorDescription();
    if (text.IsEmpty()) return false;
    size_t n = text.size();
    if (n > maxChars - 1) n = maxChars - 1;
    std::memcpy(buffer, text.c_str(), n);
    buffer[n] = '\0';
    return true;
}

CZipString CZipException::GetErrorDescription() const { return GetInternalErrorDescription(m_iCode, false); }

CZipString CZipException::GetSystemErrorDescription() {
    int e = errno;
    return GetInternalErrorDescription(e == 0 ? genericError : e, true);
}

namespace {
const char* FixedText(int code) {
    switch (code) {
    case EPERM: return "Not super-user.";
    case ENOENT: return "No such file or directory.";
    case EINTR: return "Interrupted system call.";
    case EIO: return "I/O error.";
    case ENXIO: return "No such device or address.";
    case EBADF: return "Bad file number.";
    case ENOMEM: return "Not enough space.";
    case EACCES: return "Permission denied.";
    case EFAULT: return "Bad address.";
    case EEXIST: return "File exists.";
    case EXDEV: return "Cross-device link.";
    case ENODEV: return "No such device.";
    case ENOTDIR: return "Not a directory.";
    case EISDIR: return "Is a directory.";
    case EINVAL: return "Invalid argument.";
    case ENFILE: return "File table overflow.";
    case EMFILE: return "Too many open files.";
    case EFBIG: return "File too large.";
    case ENOSPC: return "No space left on device.";
    case ESPIPE: return "Illegal seek.";
    case EROFS: return "Read-only file system.";
    case CZipException::badZipFile: return "Damaged or not a zip file.";
    case CZipException::badCrc: return "Crc is mismatched.";
    case CZipException::noCallback: return "There is no spanned archive callback object set.";
    case CZipException::noVolumeSize: return "The volume size was not defined for a split archive.";
    case CZipException::aborted: return "Volume change aborted in a segmented archive.";
    case CZipException::abortedAction: return "Action aborted.";
    case CZipException::abortedSafely: return "Action aborted safely.";
    case CZipException::nonRemovable: return "The device selected for the spanned archive is not removable.";
    case CZipException::tooManyVolumes: return "The limit of the maximum number of volumes has been reached.";
    case CZipException::tooManyFiles: return "The limit of the maximum number of files in an archive has been reached.";
    case CZipException::tooLongData:
        return "The filename, the comment or local or central extra field of the file added to the archive is too long.";
    case CZipException::tooBigSize: return "The file size is too large to be supported.";
    case CZipException::badPassword: return "An incorrect password set for the file being decrypted.";
    case CZipException::dirWithSize: return "The directory with a non-zero size found while testing.";
    case CZipException::internalError: return "An internal error.";
    case CZipException::platfNotSupp: return "Cannot create a file for the specified platform.";
    case CZipException::cdirNotFound:
        return "The central directory was not found in the archive (or you were trying to open not the last "
               "volume of a segmented archive).";
    case CZipException::noZip64:
        return "The Zip64 format has not been enabled for the library, but is required to use the archive.";
    case CZipException::noAES:
        return "WinZip AES encryption has not been enabled for the library, but is required to decompress the "
               "archive.";
    case CZipException::outOfBounds: return "The collection is empty and the bounds do not exist.";
    case CZipException::overlappingEntries:
        return "The entry overlaps another entry of the archive (possible zip bomb).";
    case CZipException::specialFile: return "Not a regular file or a directory (a FIFO, socket or device).";
    case CZipException::streamEnd: return "Zlib library error (end of stream).";
    case CZipException::streamError: return "Zlib library error (stream error).";
    case CZipException::dataError: return "Zlib library error (data error).";
    case CZipException::memError: return "Not enough memory.";
    case CZipException::bufError: return "Zlib library error (buffer error).";
    case CZipException::versionError: return "Zlib library error (version error).";
    default: return nullptr;
    }
}
}  // namespace

CZipString CZipException::GetInternalErrorDescription(int code, bool noLoop) {
    if (const char* text = FixedText(code)) return CZipString(text);
    const char* phrase = nullptr;
    switch (code) {
    case fileError: phrase = "A file error occurred"; break;
    case notRemoved: phrase = "Error while removing a file"; break;
    case notRenamed: phrase = "Error while renaming a file"; break;
    default: break;
    }
    if (phrase) {
        CZipString text;
        text.Format("%s (%s).", phrase, GetSystemErrorDescription().c_str());
        return text;
    }
    if (code == errNo) {
        // errno itself 502 would bounce between this case and the system
        // error text for ever: it is simply unspecified.
        int e = errno;
        if (e == errNo) return GetInternalErrorDescription(genericError, true);
        return GetInternalErrorDescription(e, false);
    }
    if (noLoop) return CZipString("Unspecified error");
    return GetSystemErrorDescription();
}
