// Encrypting entries already in an archive, in place; the steps are in
// CZipInPlaceEncryption.
#include "ZipBundle.h"
#include "ZipInPlaceEncryption.h"

bool CZipBundle::EncryptFilesInternal(CZipArray<unsigned short>* indexes) {
    if (!CanModify(false, true) || GetCount() == 0 || !WillEncryptNextFile()) return false;
    if (m_storage.IsSegmented()) return false;
    CZipInPlaceEncryption encryption(*this, indexes);
    CZipChange change(m_change, unsigned(m_iBufferSize));
    const unsigned long long dataEnd = change.DataEnd();
    if (!encryption.Collect(dataEnd)) {
        change.Unchanged();
        return true;
    }
    const unsigned long long growth = encryption.OrderAndMeasure();
    // Planned in memory before anything on disk changes.
    encryption.BuildMovePlan(change.Plan());
    change.OnFailure([&encryption] {
        const unsigned long long end = encryption.SettleAfterFailure();
        encryption.EndProgress();
        return end;
    });
    // Room first, while the old directory still stands: a full disk
    // fails there and leaves the archive as it was.
    encryption.Move(change, growth);
    encryption.EncryptEach();
    encryption.Settle();
    encryption.Release();
    encryption.EndProgress();
    change.Complete(dataEnd + growth);
    return true;
}
