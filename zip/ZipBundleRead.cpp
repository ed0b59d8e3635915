// Opening views of existing archives, telling archives apart, finding
// entries and the names that extraction and adding predict.
#include "ZipBundle.h"
bool CZipBundle::OpenFrom(CZipBundle& other, CZipAbstractFile* file, bool allowNonReadOnly) {
    if (!IsClosed() || other.IsClosed()) return false;
    if (!other.IsReadOnly() && !allowNonReadOnly) return false;
    if (file && other.m_storage.IsSegmented()) return false;
    int mode = zipOpenReadOnly;
    if (other.m_storage.IsBinarySplit()) mode |= zipModeBinSplit;
    else if (other.m_storage.IsSplit()) mode |= zipModeSplit;
    if (file) m_storage.Open(*file, mode, false);
    // A segmented archive is opened by its last volume, whichever is read now.
    else if (other.m_storage.IsSegmented()) m_storage.Open(other.m_storage.GetArchivePath(), mode, 0);
    else if (other.m_storage.m_pFile->HasFilePath()) m_storage.Open(other.m_storage.m_pFile->GetFilePath(), mode, 0);
    else m_storage.Open(*other.m_storage.m_pFile, mode, false);
    try {
        InitOnOpen(other.m_iArchiveSystCompatib, &other.m_centralDir);
    } catch (...) {
        m_centralDir.Close();
        m_storage.Close(false);
        throw;
    }
    return true;
}

// On an archive whose storage is open: whether an end record can be found;
// the storage is closed again either way.
bool CZipBundle::EndRecordFound() {
    bool found = false;
    try {
        found = m_centralDir.LocateSignature() != CZipStorage::SignatureNotFound;
    } catch (const CZipException&) {
    }
    m_storage.Close(false);
    return found;
}

bool CZipBundle::IsZipFile(const char* filePath) {
    CZipBundle zip;
    try {
        zip.m_storage.Open(filePath, zipOpenReadOnly, 0);
    } catch (const CZipException&) {
        return false;  // what cannot be opened is no archive
    }
    return zip.EndRecordFound();
}

bool CZipBundle::IsZipFile(CZipAbstractFile& file, bool autoClose) {
    CZipBundle zip;
    zip.m_storage.Open(file, zipOpenReadOnly, autoClose);
    return zip.EndRecordFound();
}

unsigned short CZipBundle::FindFile(const char* name, int caseMode, bool fileNameOnly) {
    if (IsClosed() || !name) return 0xFFFF;
    bool caseSensitive = m_bCaseSensitive;
    bool sporadically = true;
    if (caseMode == ffCaseSens) caseSensitive = true;
    else if (caseMode == ffNoCaseSens) caseSensitive = false;
    else sporadically = false;
    return m_centralDir.FindFile(name, caseSensitive, sporadically, fileNameOnly);
}

void CZipBundle::EnableFindFast(bool enable) {
    if (!IsClosed()) m_centralDir.EnableFindFast(enable, m_bCaseSensitive);
}

void CZipBundle::GetIndexes(const CZipArray<CZipString>& names, CZipArray<unsigned short>& indexes) {
    if (IsClosed()) return;
    for (const CZipString& name : names) indexes.Add(FindFile(name, ffDefault, false));
}

bool CZipBundle::ReadLocalHeader(unsigned short index) {
    if (IsClosed() || m_iFileOpened != nothing || !m_centralDir.IsValidIndex(index)) return false;
    return m_centralDir[index]->ReadLocal(&m_centralDir);
}

unsigned short CZipBundle::WillBeDuplicated(const char* filePath, bool fullPath, bool fileNameOnly, int what) {
    CZipString name;
    if (fileNameOnly) {
        CZipPathComponent component(filePath);
        name = PredictFileNameInZip(component.GetFileName(), false, what);
    } else {
        name = PredictFileNameInZip(filePath, fullPath, what);
    }
    return FindFile(name, ffDefault, fileNameOnly);
}
