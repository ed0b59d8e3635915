#pragma once
// The steps of encrypting entries already in an archive, in place (see
// CZipBundle::EncryptFilesInternal, which runs them in order): each entry
// grows by its encryption header and a data descriptor, so everything
// behind it moves forward first, then it is encrypted where it now stands.
// Internal to the library.
#include <memory>
#include <string>
#include <vector>

#include "ZipCollections.h"
#include "ZipModifyInfo.h"
#include "ZipMovePlan.h"

class CZipActionCallback;
class CZipBundle;
class CZipChange;
class CZipFileHeader;

class CZipInPlaceEncryption {
public:
    // The listed indexes (all with none given) are sorted, in place, and
    // taken once each.
    CZipInPlaceEncryption(CZipBundle& zip, CZipArray<unsigned short>* indexes);
    ~CZipInPlaceEncryption();
    CZipInPlaceEncryption(const CZipInPlaceEncryption&) = delete;
    CZipInPlaceEncryption& operator=(const CZipInPlaceEncryption&) = delete;

    // The listed entries that exist and are not encrypted, their local
    // headers and descriptors read; dataEnd is where the archive's data
    // ends. Changes nothing, in memory or on disk. Throws badZipFile for an
    // entry that cannot be read, abortedSafely when the prepare callback
    // stops. False when there is nothing to encrypt.
    bool Collect(unsigned long long dataEnd);
    // The entries in data order, each one's stretch of other entries behind
    // it and where it goes; returns how many bytes the data grows. Throws
    // badZipFile, nothing changed, when entries share or overlap bytes or
    // lie past the data end.
    unsigned long long OrderAndMeasure();
    // The moves, from the end back so that nothing lands on bytes not yet
    // moved: each entry's stretch, then its own data, added to the change's
    // plan. In memory only.
    void BuildMovePlan(CZipMovePlan& plan);
    // The change grows the file by growth and runs the plan (CZipChange::
    // Move, same throws).
    void Move(CZipChange& change, unsigned long long growth);
    // Each entry encrypted where it now stands: its sealed local header,
    // its data encoded chunk by chunk, its descriptor. Throws the storage's
    // codes, abortedAction when the encrypt callback stops, badZipFile
    // when the file ends inside an entry's data.
    void EncryptEach();
    // Every header points at the whole copy of its entry: encrypted where
    // it was finished, plain (old or moved) where it was not; an entry that
    // has neither leaves the directory.
    void Settle();
    // After a throw from Move, EncryptEach or Settle: buffered writes
    // dropped, the entries settled (unless they were), the buffer and the
    // cryptograph given back. Returns where the data the headers describe
    // ends, for CZipChangeEngine::Restore. Throws only when memory runs
    // out.
    unsigned long long SettleAfterFailure();
    // The buffer and the cryptograph given back after a success.
    void Release();
    // The multi-action callback ended, once, whatever the outcome.
    void EndProgress();

private:
    // How far an entry (or the stretch of other entries behind it) got; a
    // failure part way settles each by it.
    enum class Stage { untouched, moving, moved, encrypting, done };

    struct Entry : CZipEncryptFileInfo {
        unsigned oldOffset = 0;
        unsigned localSize = 0;
        unsigned dataSize = 0;
        // Growth of the entries to encrypt that lie before this one: where
        // its local header goes.
        unsigned long long before = 0;
        // Its local header and descriptor as they stood, written back when
        // it has to stay plain.
        std::string localHeader;
        std::string descriptor;
        // The entries behind it up to the next one to encrypt, in data
        // order, and the bytes they take (its own tail first).
        CZipArray<CZipFileHeader*> stretch;
        unsigned long long stretchStart = 0, stretchEnd = 0;
        // The moves of that stretch and of its own data, in the plan.
        CZipMoveStep* stretchStep = nullptr;
        CZipMoveStep* dataStep = nullptr;
        // Set once its own data has moved: encrypting, done.
        Stage stage = Stage::untouched;
        // Bytes of its data encrypted on disk; unknown while a write is out.
        unsigned long long encrypted = 0;
        bool certain = true;
        std::shared_ptr<CZipFileHeader> sealed;  // the header as encrypted

        unsigned long long Growth() const;
        unsigned long long NewOffset() const { return oldOffset + before; }
        unsigned long long DataStart() const { return (unsigned long long)oldOffset + localSize; }
        unsigned long long OldEnd() const { return DataStart() + dataSize + descriptor.size(); }
    };

    // One entry's headers read; throws badZipFile when they cannot be.
    void CollectEntry(unsigned short index);
    // The descriptor behind an entry's data, as many bytes as it has (12
    // or 16, 8 more with 8-byte sizes); throws badZipFile when it would run
    // past the data end.
    std::string ReadDescriptor(const CZipFileHeader& header, unsigned long long at);
    // The old local header with the flags, time and sizes of an entry
    // whose sizes follow in its descriptor.
    std::string SealedLocalHeader(const Entry& entry) const;
    // Encrypts one moved entry where it stands (EncryptEach's throws).
    void EncryptEntry(Entry& entry, CZipActionCallback* encryptor);
    // How far the entry got, read off its steps and its own stage.
    Stage Outcome(const Entry& entry) const;
    // Puts an entry that cannot be encrypted back as it was, plain, in
    // front of its moved data: its first `encrypted` bytes are decrypted
    // again, its old local header goes just before the data and its old
    // descriptor just after. False when that fails; never throws.
    bool RestorePlain(Entry& entry);
    // The header takes the encrypted entry's values.
    static void Seal(Entry& entry);

    CZipBundle& m_zip;
    std::vector<unsigned short> m_listed;
    std::vector<Entry> m_entries;
    // The change's plan, which the moves are added to.
    CZipMovePlan* m_pPlan = nullptr;
    CZipActionCallback* m_multi = nullptr;
    // Where the data ended before, how much it grows, and where the data
    // the headers describe ends now (the old end while nothing has moved).
    unsigned long long m_uDataEnd = 0, m_uGrowth = 0, m_uEnd = 0;
    // Bytes the multi-action callback is told of.
    unsigned long long m_uToProcess = 0;
    bool m_bSettled = false;
};
