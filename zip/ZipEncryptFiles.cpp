// Encrypting entries already in an archive, in place; the steps are in
// CZipInPlaceEncryption.
#include "ZipBundle.h"
#include "ZipInPlaceEncryption.h"

bool CZipBundle::EncryptFilesInternal(CZipArray<unsigned short>* indexes) {
    if (!CanModify(false, true) || GetCount() == 0 || !WillEncryptNextFile()) return false;
    if (m_storage.IsSegmented()) return false;
    CZipInPlaceEncryption encryption(*this, indexes);
    const unsigned long long dataEnd = m_change.Begin(unsigned(m_iBufferSize));
    if (!encryption.Collect(dataEnd)) return true;
    const unsigned long long growth = encryption.OrderAndMeasure();
    // Planned in memory before anything on disk changes.
    encryption.BuildMovePlan();
    // Room first, while the old directory still stands: a full disk
    // fails here and leaves the archive as it was.
    m_change.Grow(growth);
    m_change.TakeOff();
    try {
        encryption.Move();
        encryption.EncryptEach();
        encryption.Settle();
    } catch (...) {
        m_change.Restore(encryption.SettleAfterFailure());
        encryption.EndProgress();
        throw;
    }
    encryption.Release();
    encryption.EndProgress();
    m_change.Complete(dataEnd + growth);
    return true;
}
