#pragma once
// Progress callbacks, supplied by the caller; the library only asks them.
#include "ZipString.h"

class CZipActionCallback {
public:
    enum CallbackType {
        cbNothing = 0x0000,
        cbAdd = 0x0001,
        cbAddTmp = 0x0002,     // copy from the temporary archive
        cbAddStore = 0x0004,   // re-add after a failed efficiency check
        cbExtract = 0x0008,
        cbDeleteCnt = 0x0010,  // delete: collecting
        cbDelete = 0x0020,     // delete: moving data
        cbTest = 0x0040,
        cbSave = 0x0080,       // writing the central directory
        cbGet = 0x0100,        // copy from another archive
        cbModify = 0x0200,     // commit
        cbMoveData = 0x0400,   // shift or make room for a replacement
        cbCalculateForMulti = 0x0800,
        cbMultiAdd = 0x1000 | cbAdd,
        cbEncryptPrepare = 0x2000,
        cbEncryptMoveData = 0x4000,
        cbEncrypt = 0x8000,
        cbMultiEncrypt = cbEncryptMoveData | cbEncrypt | 0x10000,
        cbAll = 0xFFFFF,
    };

    // State of an operation made of several actions.
    struct CMultiActionsInfo {
        int m_iReactType = cbNothing;
    };

    CZipActionCallback() = default;
    virtual ~CZipActionCallback() = default;

    virtual void BeginProgress(const char* nameInArchive, const char* externalName) {
        m_szFileInZip = nameInArchive;
        m_szExternalFile = externalName;
        m_uTotalSoFar = 0;
        ResetProgressStage();
    }
    virtual void SetProgressTotal(unsigned long long total) { m_uTotalToProcess = total; }
    // false aborts the operation.
    virtual bool OnProgress(unsigned long long progress) = 0;
    virtual void EndProgress() {}

    // Operations made of several actions (adding trees, encrypting).
    virtual void MultiActionsInit(unsigned totalFiles, unsigned long long totalBytes, int reactType) {
        (void)totalFiles; (void)totalBytes;
        SetReactType(reactType);
    }
    // One more item done; false aborts.
    virtual bool MultiActionsNext() { return true; }
    virtual void MultiActionsEnd() {}

    // Gathers step requests before one OnProgress.
    bool RequestCallback(unsigned long long progress = 1);
    bool RequestLastCallback(unsigned long long progress = 0);
    void ResetProgressStage() {
        m_iCurrentStep = 1;
        m_uAccumulatedProgress = 0;
    }
    void SetReactType(int type) {
        if (m_pMultiActionsInfo) m_pMultiActionsInfo->m_iReactType = type;
    }

    CallbackType m_iType = cbNothing;
    int m_iStep = 1;
    int m_iCurrentStep = 1;
    unsigned long long m_uAccumulatedProgress = 0;
    CMultiActionsInfo* m_pMultiActionsInfo = nullptr;
    CZipString m_szFileInZip;
    CZipString m_szExternalFile;
    unsigned long long m_uTotalToProcess = 0;
    unsigned long long m_uTotalSoFar = 0;
};
