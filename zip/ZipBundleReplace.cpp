// Replacing an entry in the middle of an archive: room is made at the
// replaced entry's place, and a compressed replacement is built in a
// temporary archive first so that nothing is lost if compressing fails.
#include "ZipBundle.h"
#include "ZipCryptograph.h"
#include "ZipMemFile.h"

void CZipBundle::MakeSpaceForReplace(CZipChange& change, unsigned short index, unsigned long long needed,
                                     const char* name) {
    const unsigned long long dataEnd = change.DataEnd();
    CZipFileHeader* replaced = m_centralDir[index];
    const unsigned long long start = replaced->m_uOffset;
    unsigned long long next = dataEnd;
    const unsigned short count = GetCount();
    for (unsigned short i = 0; i < count; ++i) {
        unsigned long long offset = m_centralDir[i]->m_uOffset;
        if (i != index && offset > start && offset < next) next = offset;
    }
    const unsigned long long available = next - start;
    const bool grow = needed > available;
    const unsigned long long diff = grow ? needed - available : available - needed;
    CZipMoveStep* tail = nullptr;
    if (diff != 0) {
        tail = &change.Plan().Add("entries behind the replaced one", next, dataEnd, diff, grow);
        m_change.GatherEntries(*tail);
        tail->callback = GetCallback(CZipActionCallback::cbMoveData);
        tail->lastCall = true;
        change.SetFloor(next);
        if (!grow) {
            // Moving back overwrites the old entry's tail: a move that
            // stops takes it out.
            CZipMovePlan& plan = change.Plan();
            change.OnFailure([this, replaced, &plan, next] {
                m_centralDir.RemoveFile(replaced, 0xFFFF, true);
                return m_change.Settle(plan, next);
            });
        }
        if (tail->callback) {
            tail->callback->BeginProgress(name, GetArchivePath());
            tail->callback->SetProgressTotal(dataEnd - next);
        }
    }
    // The old directory stands until the room is there: a full disk leaves
    // the archive as it was.
    change.Move(grow ? diff : 0);
    if (tail) {
        // Not cut: the room stays for the directory that ends the change.
        m_storage.m_uDataEnd = tail->Target(dataEnd);
        if (tail->callback) tail->callback->EndProgress();
    }
}

unsigned long long CZipBundle::ReplacementSize(const CZipFileHeader& header, int level, unsigned long long dataSize,
                                               bool keepNoDescriptor) {
    CZipFileHeader probe(header);
    probe.m_pCentralDir = nullptr;
    probe.m_aLocalExtraData.RemoveInternalLocalHeaders();
    probe.PrepareData(level, m_storage.IsSegmented());
    if (keepNoDescriptor) probe.m_uFlag &= ~CZipFileHeader::flDataDescriptor;
    // Refused before any data moves.
    if (!probe.CanBeWrittenLocally()) ThrowError(CZipException::tooLongData);
    const unsigned encryption = m_pCryptograph ? CZipCryptograph::GetEncryptedInfoSize(probe.m_uEncryptionMethod) : 0;
    return probe.GetLocalSize(false) + dataSize + encryption + probe.GetDataDescriptorSize(&m_storage);
}

bool CZipBundle::AddThroughTemporaryArchive(CZipAddNewFileInfo& info, const CZipString& tempPath,
                                            bool checkEfficiency) {
    const bool inMemory = tempPath.IsEmpty();
    CZipMemFile memory(1024);
    CZipBundle temporary;
    bool result = false;
    bool copied = false;
    const unsigned short replaceIndex = info.m_uReplaceIndex;
    try {
        if (inMemory) temporary.Open(memory, zipCreate, false);
        else temporary.Open(tempPath, zipCreate);
        temporary.m_szRootPath = m_szRootPath;
        temporary.m_pszPassword = m_pszPassword;
        temporary.m_iEncryptionMethod = m_iEncryptionMethod;
        temporary.m_iArchiveSystCompatib = m_iArchiveSystCompatib;
        temporary.SetCallback(GetCallback(CZipActionCallback::cbAdd), CZipActionCallback::cbAdd);

        info.m_iSmartLevel = zipsmLazy;
        info.m_uReplaceIndex = 0xFFFF;
        // The source is read and compressed here, before anything of this
        // archive changes.
        bool added = temporary.AddNewFile(info);
        info.m_uReplaceIndex = replaceIndex;
        if (added) {
            if (checkEfficiency && !temporary[0]->CompressionEfficient()) {
                info.m_iComprLevel = 0;
                info.m_iSmartLevel = zipsmInternal01;
                result = AddNewFile(info);
            } else {
                temporary.m_storage.Flush();
                InitBuffer();
                result = GetFromArchive(temporary, 0, nullptr, replaceIndex, true,
                                        GetCallback(CZipActionCallback::cbAddTmp));
                copied = result;
            }
        }
        temporary.m_pszPassword.Release();
        temporary.Close(result ? afNoException : afAfterException);
    } catch (...) {
        info.m_uReplaceIndex = replaceIndex;
        temporary.m_pszPassword.Release();
        try {
            temporary.Close(afAfterException);
        } catch (...) {
        }
        if (!inMemory) ZipPlatform::RemoveFile(tempPath, false);
        ReleaseBuffer();
        throw;
    }
    if (!inMemory) ZipPlatform::RemoveFile(tempPath, false);
    ReleaseBuffer();
    if (copied) Finalize(true);
    return result;
}
