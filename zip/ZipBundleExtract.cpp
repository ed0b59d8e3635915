// Reading entries: opening one for reading, decompressing it in pieces,
// closing it with its checks, extracting it to disk or into a caller's
// file, and testing it.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

#include "ZipBundle.h"
#include "ZipCompatibility.h"
#include "ZipCryptograph.h"
#include "ZipExtractTarget.h"

namespace {
bool KeepsUnixModes(const CZipFileHeader* header) {
    return header->GetSystemCompatibility() == ZipCompatibility::zcUnix;
}

// The permission bits of an entry made on Unix, on a plain file: a FIFO,
// device or socket keeps its bits (setuid, setgid and sticky go), a link,
// whose bits say nothing, gets the default ones.
unsigned UnixFileMode(unsigned attr) {
    if (S_ISLNK(attr)) return ZipPlatform::GetDefaultAttributes() & 0777;
    return attr & 0777;
}

// Entries of other hosts get what unzip gives them: everyone may read, and
// write unless the entry is read-only, less the umask.
unsigned ForeignFileMode(unsigned attr) { return (attr & 0200) ? 0666 : 0444; }

mode_t CurrentUmask() {
    // Read rather than set and reset: umask() would race other threads.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "Umask:") == 0) return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 022;
}

// Reads the open entry to its end through sink; 0, or 206 / 207 when the
// callback stopped it (207: nothing of the entry was left to read).
template <class Sink>
int CopyEntry(CZipBundle& zip, CZipActionCallback* cb, CZipAutoBuffer& buffer, Sink sink) {
    const unsigned size = buffer.GetSize();
    for (;;) {
        unsigned n = zip.ReadFile(buffer, size);
        if (n == 0) return (cb && !cb->RequestLastCallback(0)) ? CZipException::abortedSafely : 0;
        sink(buffer.GetBuffer(), n);
        if (cb && !cb->RequestCallback(n)) {
            char probe;
            return (n == size && zip.ReadFile(&probe, 1) != 0) ? CZipException::abortedAction
                                                               : CZipException::abortedSafely;
        }
    }
}

// A stop the callback asked for after the last byte still needs the entry
// to close cleanly; if it does not, the stop counts as cutting it short.
template <class Close>
int SettleStop(int code, Close close) {
    if (code != CZipException::abortedSafely) return code;
    try {
        if (close() != 1) return CZipException::abortedAction;
    } catch (const CZipException&) {
        return CZipException::abortedAction;
    }
    return code;
}
}  // namespace

CZipString CZipBundle::PredictExtractedFileName(const char* nameInZip, const char* filePath, bool fullPath,
                                                const char* newName) const {
    CZipString path(filePath);
    CZipString name;
    for (const std::string& part : ZipLib::ConfinedComponents(newName ? newName : nameInZip)) {
        if (!name.IsEmpty()) name += CZipPathComponent::m_cSeparator;
        name += part;
    }
    if (name.IsEmpty()) return path;
    if (!path.IsEmpty()) CZipPathComponent::AppendSeparator(path);
    CZipPathComponent component(name);
    if (!fullPath) path += TrimRootPath(component);
    else if (m_bRemoveDriveLetter) path += component.GetNoDrive();
    else path += name;
    return path;
}

bool CZipBundle::OpenFile(unsigned short index) {
    if (IsClosed() || !m_centralDir.IsValidIndex(index) || m_storage.IsNewSegmented() || m_iFileOpened != nothing)
        return false;
    m_centralDir.OpenFile(index);
    CZipFileHeader* header = CurrentFile();
    if (!CZipCompressor::IsCompressionSupported(header->m_uMethod)) {
        m_centralDir.CloseFile(true);
        return false;
    }
    try {
        if (header->IsEncrypted()) {
            // Smaller than its encryption header: the data size would wrap.
            if (header->m_uComprSize < CZipCryptograph::GetEncryptedInfoSize(header->GetEncryptionMethod()))
                ThrowError(CZipException::badZipFile);
            if (m_pszPassword.GetSize() == 0) ThrowError(CZipException::badPassword);
            CreateCryptograph(header->GetEncryptionMethod());
            bool ignoreCheck = !m_centralDir.IsConsistencyCheckOn(CZipCentralDir::checkDecryptionVerifier);
            if (!m_pCryptograph->InitDecode(m_pszPassword, *header, m_storage, ignoreCheck))
                ThrowError(CZipException::badPassword);
        } else {
            ClearCryptograph();
        }
        CreateCompressor(header->m_uMethod);
        m_pCompressor->InitDecompression(header, m_pCryptograph);
    } catch (...) {
        if (m_pCompressor) m_pCompressor->FinishDecompression(true);
        m_centralDir.CloseFile(true);
        ClearCryptograph();
        throw;
    }
    m_iFileOpened = extract;
    return true;
}

unsigned CZipBundle::ReadFile(void* buffer, unsigned size) {
    if (m_iFileOpened != extract || !buffer || size == 0) return 0;
    try {
        return m_pCompressor->Decompress(buffer, size);
    } catch (...) {
        // Damaged data ends the entry: nothing stays open behind the throw.
        CloseFile(nullptr, true);
        throw;
    }
}

int CZipBundle::CloseFile(const char* filePath, bool afterException) {
    if (m_iFileOpened != extract) return 0;
    int result = 1;
    try {
        if (afterException) {
            m_pCompressor->FinishDecompression(true);
        } else {
            // Not read to its end: no CRC to compare.
            if (m_pCompressor->GetComprLeft() != 0 || m_pCompressor->GetUncomprLeft() != 0) {
                result = -1;
            } else if (m_centralDir.IsConsistencyCheckOn(CZipCentralDir::checkCRC) &&
                       m_pCompressor->GetCrc32() != CurrentFile()->m_uCrc32) {
                ThrowError(CZipException::badCrc);
            }
            m_pCompressor->FinishDecompression(false);
            if (filePath) {
                CZipFileHeader* header = CurrentFile();
                time_t modification = header->GetModificationTime();
                time_t creation = header->GetCreationTime();
                time_t access = header->GetLastAccessTime();
                unsigned attr = header->GetSystemAttr();
                unsigned mode = KeepsUnixModes(header) ? UnixFileMode(attr) : ForeignFileMode(attr) & ~CurrentUmask();
                if (!ZipPlatform::SetFileTimes(filePath, &modification, &creation, &access) ||
                    !ZipPlatform::SetFileAttr(filePath, mode))
                    result = -2;
            }
            if (m_pCryptograph) m_pCryptograph->FinishDecode(*CurrentFile(), m_storage);
        }
        m_centralDir.CloseFile(afterException);
    } catch (...) {
        // Whatever failed, the entry is closed afterwards.
        if (!afterException) m_pCompressor->FinishDecompression(true);
        m_centralDir.CloseFile(true);
        m_iFileOpened = nothing;
        ClearCryptograph();
        throw;
    }
    m_iFileOpened = nothing;
    ClearCryptograph();
    return result;
}

int CZipBundle::CloseFile(CZipFile& file) {
    CZipString path = file.GetFilePath();
    try {
        file.Close();
    } catch (...) {
        CloseFile(nullptr, true);
        throw;
    }
    return CloseFile(path, false);
}

bool CZipBundle::ExtractFile(unsigned short index, const char* filePath, bool fullPath, const char* newName,
                             ZipPlatform::FileOverwriteMode mode, unsigned bufferSize) {
    if (bufferSize == 0 || IsClosed() || !m_centralDir.IsValidIndex(index) || m_iFileOpened != nothing) return false;
    CZipFileHeader* header = m_centralDir[index];
    CZipString name = header->GetFileName(false);
    // The components below the target, walked one by one: nothing a name
    // yields is "." or ".." or leaves the target.
    std::vector<std::string> parts =
        ZipLib::ConfinedComponents(PredictExtractedFileName(name, nullptr, fullPath, newName));
    if (parts.empty()) return false;
    const std::string base(filePath ? filePath : "");
    CZipString target = PredictExtractedFileName(name, filePath, fullPath, newName);
    // A name no file system takes fails before anything is made or written.
    for (const std::string& part : parts)
        if (part.size() > NAME_MAX) ThrowError(ENAMETOOLONG, target);
    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbExtract);
    if (cb) cb->BeginProgress(name, target);
    const unsigned attr = header->GetSystemAttr();

    if (header->IsDirectory()) {
        if (cb) cb->SetProgressTotal(0);
        int dir = m_dirCache.Open(base, parts, parts.size(), target, &m_dirModes);
        if (KeepsUnixModes(header) && S_ISDIR(attr)) m_dirModes.Add(target.c_str(), dir, attr & 0777);
        if (cb) cb->EndProgress();
        return true;
    }

    // A directory standing where the file goes fails the rename at the end.
    struct stat existing;
    if ((mode & ZipPlatform::fomOnlyIfNewer) && ::lstat(target, &existing) == 0) {
        time_t entryTime = header->GetModificationTime();
        if (S_ISREG(existing.st_mode) && entryTime > 0 && existing.st_mtime > 0 && existing.st_mtime >= entryTime) {
            if (cb) {
                cb->SetProgressTotal(header->m_uUncomprSize);
                bool goOn = cb->RequestCallback(header->m_uUncomprSize) && cb->RequestLastCallback(0);
                cb->EndProgress();
                if (!goOn) ThrowError(CZipException::abortedSafely, target);
            }
            return true;
        }
    }

    // The entry is checked (local header, method, password) before anything
    // on disk is touched.
    if (!OpenFile(index)) {
        if (cb) cb->EndProgress();
        return false;
    }
    try {
        int dir = m_dirCache.Open(base, parts, parts.size() - 1, target, &m_dirModes);
        // Nor one this file system does not, before the data is written.
        if (parts.back().size() > m_dirCache.NameMax()) ThrowError(ENAMETOOLONG, target);
        m_dirCache.Sweep();
        if (cb) cb->SetProgressTotal(header->m_uUncomprSize);
        const bool unixModes = KeepsUnixModes(header);
        ZipLib::CTemporaryTarget out(dir, parts.back(), unixModes ? 0600 : ForeignFileMode(attr), target);
        CZipAutoBuffer& buffer = m_readBuffer;
        buffer.Allocate(bufferSize);
        int code = CopyEntry(*this, cb, buffer, [&out](const char* data, unsigned n) { out.Write(data, n); });
        int result = 1;
        if (code == 0) result = CloseFile(nullptr, false);
        else code = SettleStop(code, [&] { return result = CloseFile(nullptr, false); });
        if (code == CZipException::abortedAction) {
            CloseFile(nullptr, true);
            if (cb) cb->EndProgress();
            ThrowError(code, target);
        }
        if (result == -1) {
            if (cb) cb->EndProgress();
            ThrowError(CZipException::badZipFile, target);
        }
        // Checked whole: only now does it take the place of what stood there.
        bool settled = out.SetTimesAndMode(header->GetModificationTime(), header->GetLastAccessTime(), unixModes,
                                           UnixFileMode(attr));
        out.Install();
        if (cb) cb->EndProgress();
        if (code) ThrowError(code, target);
        return settled;
    } catch (...) {
        CloseFile(nullptr, true);
        throw;
    }
}

bool CZipBundle::ExtractFile(unsigned short index, CZipAbstractFile& target, bool rewind, unsigned bufferSize) {
    if (bufferSize == 0 || IsClosed() || !m_centralDir.IsValidIndex(index) || m_iFileOpened != nothing) return false;
    CZipFileHeader* header = m_centralDir[index];
    if (header->IsDirectory()) return false;
    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbExtract);
    if (cb) cb->BeginProgress(header->GetFileName(false), nullptr);
    if (!OpenFile(index)) {
        if (cb) cb->EndProgress();
        return false;
    }
    unsigned long long origin = rewind ? target.GetPosition() : 0;
    try {
        if (cb) cb->SetProgressTotal(header->m_uUncomprSize);
        CZipAutoBuffer& buffer = m_readBuffer;
        buffer.Allocate(bufferSize);
        int code = CopyEntry(*this, cb, buffer, [&target](const char* data, unsigned n) { target.Write(data, n); });
        code = SettleStop(code, [&] { return CloseFile(nullptr, false); });
        if (code) {
            CloseFile(nullptr, true);
            if (cb) cb->EndProgress();
            CZipException::Throw(code);
        }
        int result = CloseFile(nullptr, false);
        if (cb) cb->EndProgress();
        if (rewind) target.SafeSeek(origin);
        if (result == -1) CZipException::Throw(CZipException::badZipFile);
        return result == 1;
    } catch (...) {
        CloseFile(nullptr, true);
        // Whatever stopped it (the callback, a CRC, damage), the position
        // goes back; a failing seek must not hide the first error.
        if (rewind) {
            try {
                target.SafeSeek(origin);
            } catch (...) {
            }
        }
        throw;
    }
}

bool CZipBundle::TestFile(unsigned short index, unsigned bufferSize) {
    if (IsClosed() || m_storage.IsNewSegmented() || bufferSize == 0 || !m_centralDir.IsValidIndex(index) ||
        m_iFileOpened != nothing)
        return false;
    CZipFileHeader* header = m_centralDir[index];
    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbTest);
    if (cb) cb->BeginProgress(header->GetFileName(false), nullptr);
    if (header->IsDirectory()) {
        // Tools write empty directories as empty deflate streams too: only
        // content counts.
        if (header->m_uUncomprSize != 0) ThrowError(CZipException::dirWithSize);
        if (cb) {
            cb->SetProgressTotal(0);
            cb->EndProgress();
        }
        return true;
    }
    if (cb) cb->SetProgressTotal(header->m_uUncomprSize);
    if (!OpenFile(index)) {
        if (cb) cb->EndProgress();
        return false;
    }
    try {
        CZipAutoBuffer& buffer = m_readBuffer;
        buffer.Allocate(bufferSize);
        int code = CopyEntry(*this, cb, buffer, [](const char*, unsigned) {});
        code = SettleStop(code, [&] { return CloseFile(nullptr, false); });
        if (code) {
            CloseFile(nullptr, true);
            if (cb) cb->EndProgress();
            ThrowError(code);
        }
        if (CloseFile(nullptr, false) != 1) ThrowError(CZipException::badZipFile);
    } catch (...) {
        CloseFile(nullptr, true);
        throw;
    }
    if (cb) cb->EndProgress();
    return true;
}

void CZipBundle::FinishExtraction() {
    m_dirCache.Forget();
    m_dirModes.Apply();
}
