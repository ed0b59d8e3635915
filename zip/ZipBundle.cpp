#include "ZipBundle.h"

#include <cstring>

#include <algorithm>

#include "ZipCompatibility.h"
#include "ZipCryptograph.h"
#include "ZipRootPathRestorer.h"
#include "ZipSegmCallback.h"
#include "ZipSmClrPass.h"

const char CZipBundle::m_gszVersion[] = "4.6.2";

CZipBundle::CZipBundle() : m_change(m_storage, m_centralDir) { Initialize(); }

CZipBundle::~CZipBundle() {
    // The archive object goes without writing anything, an entry left open
    // included.
    if (m_add) m_add->Unchanged();
    m_add.reset();
    ClearCompressor();
    ClearCryptograph();
    m_pszPassword.Wipe();
}

void CZipBundle::Initialize() {
    m_bRemoveDriveLetter = true;
    m_bAutoFinalize = false;
    m_iCommitMode = cmOnChange;
    m_iFileOpened = nothing;
    m_uExpectedSize = ~0ull;
    m_change.ForgetRoom();
    m_bCaseSensitive = ZipPlatform::GetSystemCaseSensitivity();
    m_pZipCompare = GetCZipStrCompFunc(m_bCaseSensitive, true);
    m_bStoreFullFileTimes = false;
    m_uCompressionMethod = CZipCompressor::methodDeflate;
    m_iEncryptionMethod = CZipCryptograph::encStandard;
    m_pCryptograph = nullptr;
    m_pCompressor = nullptr;
    m_iBufferSize = 65536;
    m_iArchiveSystCompatib = ZipPlatform::GetSystemID();
    m_centralDir.InitOnCreate(this);
}

// ---- opening --------------------------------------------------------------

bool CZipBundle::Open(CZipAbstractFile& file, int mode, bool autoClose) {
    if (!IsClosed()) return false;
    if (mode != zipOpen && mode != zipOpenReadOnly && mode != zipCreate && mode != zipCreateAppend) return false;
    m_storage.Open(file, mode, autoClose);
    OpenOrAbandon(mode);
    return true;
}

bool CZipBundle::Open(const char* path, int mode, unsigned volumeSize) {
    if (!IsClosed()) return false;
    const int base = mode & ~zipModeSegmented;
    const int segmented = mode & zipModeSegmented;
    if (base != zipOpen && base != zipOpenReadOnly && base != zipCreate && base != zipCreateAppend) return false;
    // One segmented kind at most, and volumes are never appended to.
    if (segmented && ((segmented & (segmented - 1)) != 0 || base == zipCreateAppend)) return false;
    m_storage.Open(path, mode, volumeSize);
    OpenOrAbandon(mode);
    return true;
}

void CZipBundle::OpenInternal(int mode) {
    InitOnOpen(ZipPlatform::GetSystemID());
    if (mode & zipOpen) {
        m_centralDir.Read();
        if (GetCount() > 0 && ZipCompatibility::IsPlatformSupported(m_centralDir[0]->GetSystemCompatibility()))
            m_iArchiveSystCompatib = m_centralDir[0]->GetSystemCompatibility();
    }
}

void CZipBundle::OpenOrAbandon(int mode) {
    try {
        OpenInternal(mode);
    } catch (...) {
        // A damaged archive leaves nothing open: no headers, no descriptor.
        m_centralDir.Close();
        try {
            m_storage.Close(false);
        } catch (...) {
        }
        throw;
    }
}

void CZipBundle::InitOnOpen(int systemCompatibility, CZipCentralDir* source) {
    m_pszPassword.Wipe();
    m_iFileOpened = nothing;
    m_change.ForgetRoom();
    m_szRootPath.Empty();
    m_centralDir.Init(source);
    m_iArchiveSystCompatib = systemCompatibility;
    m_bStoreFullFileTimes = false;
}

// ---- state ------------------------------------------------------------------

bool CZipBundle::CanModify(bool allowNewSegmented, bool needNoOpenFile) const {
    if (IsClosed() || IsReadOnly()) return false;
    if (m_storage.IsNewSegmented() && !allowNewSegmented) return false;
    if (needNoOpenFile && m_iFileOpened != nothing) return false;
    return true;
}

bool CZipBundle::GetFileInfo(CZipFileHeader& out, unsigned short index) const {
    if (IsClosed() || !m_centralDir.IsValidIndex(index)) return false;
    out = *m_centralDir[index];
    return true;
}

CZipFileHeader* CZipBundle::GetFileInfo(unsigned short index) {
    if (IsClosed() || !m_centralDir.IsValidIndex(index)) return nullptr;
    return m_centralDir[index];
}

const CZipFileHeader* CZipBundle::GetFileInfo(unsigned short index) const {
    if (IsClosed() || !m_centralDir.IsValidIndex(index)) return nullptr;
    return m_centralDir[index];
}

void CZipBundle::SetCaseSensitivity(bool caseSensitive) {
    m_bCaseSensitive = caseSensitive;
    m_pZipCompare = GetCZipStrCompFunc(caseSensitive, true);
}

bool CZipBundle::SetCompressionMethod(unsigned short method) {
    if (m_iFileOpened == compressing || !CZipCompressor::IsCompressionSupported(method)) return false;
    m_uCompressionMethod = method;
    return true;
}

bool CZipBundle::SetSystemCompatibility(int system) {
    if (IsClosed() || m_iFileOpened == compressing || !ZipCompatibility::IsPlatformSupported(system)) return false;
    m_iArchiveSystCompatib = system;
    return true;
}

void CZipBundle::SetAdvanced(int writeBuffer, int generalBuffer, int searchBuffer) {
    if (!IsClosed()) return;
    m_storage.SetWriteBufferSize(std::max(writeBuffer, 1024));
    m_iBufferSize = std::max(generalBuffer, 1024);
    m_storage.SetLocateBufferSize(std::max(searchBuffer, 1024));
}

void CZipBundle::SetTempPath(const char* path, bool force) {
    m_szTempPath = path;
    if (force && path && *path) ZipPlatform::ForceDirectory(path);
    CZipPathComponent::RemoveSeparators(m_szTempPath);
}

CZipString CZipBundle::GetArchivePath() const {
    if (IsClosed(false)) return CZipString();
    return m_storage.m_pFile->GetFilePath();
}

CZipString CZipBundle::GetGlobalComment() const {
    CZipString comment;
    if (!IsClosed()) m_centralDir.GetComment(comment);
    return comment;
}

bool CZipBundle::SetGlobalComment(const char* comment, unsigned codePage) {
    if (!CanModify(true, true)) return false;
    if (comment && std::strlen(comment) > 0xFFFF) return false;  // no room in the end record
    if (codePage == 0xFFFFFFFF) codePage = ZipCompatibility::GetDefaultCommentCodePage(m_iArchiveSystCompatib);
    m_centralDir.SetComment(comment, codePage);
    Finalize(true);
    return true;
}

void CZipBundle::GetCentralDirInfo(CZipCentralDir::CInfo& info) const {
    if (IsClosed()) return;
    m_centralDir.GetInfo(info);
    if (m_storage.IsNewSegmented() && m_storage.IsSplit() && !m_storage.IsBinarySplit())
        info.m_uLastVolume = m_storage.GetCurrentVolume();
}

void CZipBundle::SetSegmCallback(CZipSegmCallback* callback, int which) {
    if (which & scSpan) m_storage.m_pSpanChangeVolumeFunc = callback;
    if (which & scSplit) m_storage.m_pSplitChangeVolumeFunc = callback;
}

bool CZipBundle::ResetCurrentVolume() {
    if (IsClosed() || !m_storage.IsExistingSegmented() || m_iFileOpened == compressing) return false;
    if (m_iFileOpened == extract) CloseFile(nullptr, true);
    m_storage.m_uCurrentVolume = 0xFFFF;
    return true;
}

// ---- factories ----------------------------------------------------------------

void CZipBundle::CreateCryptograph(int method) {
    if (m_pCryptograph && m_pCryptograph->CanHandle(method)) return;
    ClearCryptograph();
    m_pCryptograph = CZipCryptograph::CreateCryptograph(method);
}

void CZipBundle::ClearCryptograph() {
    delete m_pCryptograph;
    m_pCryptograph = nullptr;
}

void CZipBundle::CreateCompressor(unsigned short method) {
    if (!m_pCompressor || !m_pCompressor->CanProcess(method)) {
        ClearCompressor();
        m_pCompressor = CZipCompressor::CreateCompressor(method, &m_storage);
    }
    if (m_pCompressor) m_pCompressor->UpdateOptions(m_compressorsOptions);
}

void CZipBundle::ClearCompressor() {
    delete m_pCompressor;
    m_pCompressor = nullptr;
}

void CZipBundle::ThrowError(int code, const char* path) const {
    CZipString p;
    if (path) p = path;
    else if (!IsClosed(false)) p = m_storage.m_pFile->GetFilePath();
    CZipException::Throw(code, p);
}

// ---- finishing ----------------------------------------------------------------

bool CZipBundle::Finalize(bool onlyIfAuto) {
    if (onlyIfAuto && !m_bAutoFinalize) return false;
    if (!CanModify(true, false)) return false;
    // A directory written behind a half-written entry would be followed by
    // the rest of its data.
    if (m_iFileOpened == compressing) return false;
    if (IsModified()) return false;
    WriteCentralDirectory(true);
    m_storage.FlushFile();
    if (m_storage.IsNewSegmented()) m_storage.FinalizeSegm();
    return true;
}

bool CZipBundle::SetAutoFinalize(bool autoFinalize) {
    if (!CanModify(false, false)) return false;
    if (autoFinalize == m_bAutoFinalize) return true;
    if (autoFinalize && IsModified()) return false;
    m_bAutoFinalize = autoFinalize;
    return true;
}

void CZipBundle::WriteCentralDirectory(bool flush) {
    if (m_storage.IsSegmented()) {
        m_centralDir.Write();
        if (flush) m_storage.Flush();
        return;
    }
    // Where the data ends, never over a directory that stands on disk; a
    // failure leaves no part of it.
    m_change.WriteDirectory();
}

CZipString CZipBundle::Close(int afterException, bool updateTimeStamp) {
    // First, so that neither a Close that throws nor one of a closed archive
    // (a password set while closed) leaves the password behind.
    m_pszPassword.Wipe();
    FinishExtraction();
    if (IsClosed() && (afterException == afNoException || IsClosed(false))) return CZipString();
    if (m_iFileOpened == extract) CloseFile(nullptr, afterException != afNoException);
    if (m_iFileOpened == compressing) CloseNewFile(afterException != afNoException);
    if (afterException == afNoException) CommitChanges();
    bool written = false;
    // When the directory cannot be written the archive stays open: Close
    // can be tried again once there is room, or given up after the
    // exception.
    if (afterException != afAfterException && !IsReadOnly() && !IsClosed(false)) {
        WriteCentralDirectory(false);
        written = true;
    }
    time_t newest = 0;
    if (updateTimeStamp) {
        for (unsigned short i = 0; i < GetCount(); ++i) {
            time_t t = m_centralDir[i]->GetModificationTime();
            if (t > newest) newest = t;
        }
    }
    m_centralDir.Close();
    // The compressor's zlib state and buffers serve the entries of one archive.
    ClearCompressor();
    m_addBuffer.Release();
    m_readBuffer.Release();
    CZipString path = m_storage.Close(written, afterException != afAfterException);
    if (updateTimeStamp && !path.IsEmpty()) ZipPlatform::SetFileTimes(path, &newest);
    return path;
}

// ---- passwords ------------------------------------------------------------------

bool CZipBundle::SetPassword(const char* password, unsigned codePage) {
    if (m_iFileOpened != nothing) return false;
    // The old password leaves memory at once, not when the block is reused.
    m_pszPassword.Wipe();
    if (!password) return true;
    if (codePage == 0xFFFFFFFF) codePage = ZipCompatibility::GetDefaultPasswordCodePage(m_iArchiveSystCompatib);
    ZipCompatibility::ConvertStringToBuffer(password, m_pszPassword, codePage);
    return true;
}

CZipString CZipBundle::GetPassword() const {
    CZipString password;
    ZipCompatibility::ConvertBufferToString(password, m_pszPassword,
                                            ZipCompatibility::GetDefaultPasswordCodePage(m_iArchiveSystCompatib));
    return password;
}

bool CZipBundle::SetEncryptionMethod(int method) {
    if (m_iFileOpened == compressing) return false;
    if (method != CZipCryptograph::encNone && !CZipCryptograph::IsEncryptionSupported(method)) return false;
    m_iEncryptionMethod = method;
    return true;
}

// ---- scope helpers -----------------------------------------------------------------

void CZipSmClrPass::ClearPasswordSmartly(CZipBundle* archive) {
    m_pZip = archive;
    // The bytes themselves are kept, not a text made from them: no copy
    // outlives the scope unwiped, and the restored password is exactly the
    // one that was set, whatever its code page.
    m_pass = archive->m_pszPassword;
    archive->m_pszPassword.Wipe();
}

CZipSmClrPass::~CZipSmClrPass() {
    if (m_pZip && m_pass.GetSize() != 0) {
        m_pZip->m_pszPassword.Wipe();
        m_pZip->m_pszPassword = m_pass;
    }
    m_pass.Wipe();
}

void CZipRootPathRestorer::SetNewRootPath(CZipBundle* archive, const char* path) {
    m_pZip = archive;
    m_szOldRootPath = archive->GetRootPath();
    archive->SetRootPath(path);
}

CZipRootPathRestorer::~CZipRootPathRestorer() {
    if (m_pZip) m_pZip->SetRootPath(m_szOldRootPath);
}
