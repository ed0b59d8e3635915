// Reading entries: opening one for reading, decompressing it in pieces,
// closing it with its checks, extracting it to disk or into a caller's
// file, and testing it.
#include <sys/stat.h>

#include "ZipBundle.h"
#include "ZipCryptograph.h"

namespace {
// Names as unzip extracts them: backslashes become separators and empty,
// "." and ".." components are dropped, so no name reaches outside the
// target directory.
CZipString ConfinedName(const char* name) {
    CZipString in(name);
    in.Replace('\\', '/');
    CZipString out;
    size_t start = 0;
    while (start <= in.size()) {
        size_t end = in.find('/', start);
        if (end == CZipString::npos) end = in.size();
        CZipString part = in.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            if (!out.IsEmpty()) out += CZipPathComponent::m_cSeparator;
            out += part;
        }
        start = end + 1;
    }
    return out;
}

// Extracted files get at most their permission bits; anything that is not
// a plain file or a directory (a link, a device) becomes a plain file with
// the default attributes, so no entry can make a setuid or device file.
// No type at all is a plain file (python's zipfile writes such modes).
unsigned FileAttributes(unsigned attr) {
    if (S_ISREG(attr) || (attr & S_IFMT) == 0) return attr & 0777;
    return ZipPlatform::GetDefaultAttributes() & 0777;
}

unsigned DirectoryAttributes(unsigned attr) {
    if (S_ISDIR(attr)) return attr & 0777;
    return ZipPlatform::GetDefaultDirAttributes() & 0777;
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
    CZipString name = ConfinedName(newName ? newName : nameInZip);
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
                if (!ZipPlatform::SetFileTimes(filePath, &modification, &creation, &access) ||
                    !ZipPlatform::SetFileAttr(filePath, FileAttributes(header->GetSystemAttr())))
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
    // A name of nothing but separators, "." and ".." has no place inside
    // the target.
    if (ConfinedName(newName ? newName : name.c_str()).IsEmpty()) return false;
    CZipString target = PredictExtractedFileName(name, filePath, fullPath, newName);
    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbExtract);
    if (cb) cb->BeginProgress(name, target);

    if (header->IsDirectory()) {
        if (cb) cb->SetProgressTotal(0);
        bool made = ZipPlatform::ForceDirectory(target);
        if (made) ZipPlatform::SetFileAttr(target, DirectoryAttributes(header->GetSystemAttr()));
        if (cb) cb->EndProgress();
        if (!made) ThrowError(CZipException::fileError, target);
        return true;
    }

    if (ZipPlatform::FileExists(target)) {
        time_t entryTime = header->GetModificationTime();
        time_t fileTime = 0;
        if ((mode & ZipPlatform::fomOnlyIfNewer) && entryTime > 0 &&
            ZipPlatform::GetFileTimes(target, &fileTime) && fileTime > 0 && fileTime >= entryTime) {
            if (cb) {
                cb->SetProgressTotal(header->m_uUncomprSize);
                bool goOn = cb->RequestCallback(header->m_uUncomprSize) && cb->RequestLastCallback(0);
                cb->EndProgress();
                if (!goOn) ThrowError(CZipException::abortedSafely, target);
            }
            return true;
        }
        ZipPlatform::RemoveFile(target, true, mode);
    }

    if (!OpenFile(index)) {
        if (cb) cb->EndProgress();
        return false;
    }
    try {
        CZipPathComponent component(target);
        ZipPlatform::ForceDirectory(component.GetFilePath());
        if (cb) cb->SetProgressTotal(header->m_uUncomprSize);
        CZipFile out;
        out.Open(target, CZipFile::modeWrite | CZipFile::modeCreate, true);
        CZipAutoBuffer buffer(bufferSize);
        int code = CopyEntry(*this, cb, buffer, [&out](const char* data, unsigned n) { out.Write(data, n); });
        code = SettleStop(code, [&] { return CloseFile(out); });
        if (code) {
            CloseFile(nullptr, true);
            if (cb) cb->EndProgress();
            ThrowError(code, target);
        }
        int result = CloseFile(out);
        if (cb) cb->EndProgress();
        if (result == -1) ThrowError(CZipException::badZipFile, target);
        return result == 1;
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
        CZipAutoBuffer buffer(bufferSize);
        int code = CopyEntry(*this, cb, buffer, [&target](const char* data, unsigned n) { target.Write(data, n); });
        code = SettleStop(code, [&] { return CloseFile(nullptr, false); });
        if (code) {
            CloseFile(nullptr, true);
            if (cb) cb->EndProgress();
            if (rewind) target.SafeSeek(origin);
            CZipException::Throw(code);
        }
        int result = CloseFile(nullptr, false);
        if (cb) cb->EndProgress();
        if (rewind) target.SafeSeek(origin);
        if (result == -1) CZipException::Throw(CZipException::badZipFile);
        return result == 1;
    } catch (...) {
        CloseFile(nullptr, true);
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
        CZipAutoBuffer buffer(bufferSize);
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
