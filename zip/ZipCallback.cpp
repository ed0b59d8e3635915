#include "ZipCallback.h"

#include "ZipCallbackProvider.h"

bool CZipActionCallback::RequestCallback(unsigned long long progress) {
    if (progress == 0) return true;
    if (m_iStep <= 1) {
        m_uTotalSoFar += progress;
        return OnProgress(progress);
    }
    m_uAccumulatedProgress += progress;
    if (m_iCurrentStep >= m_iStep) {
        unsigned long long gathered = m_uAccumulatedProgress;
        ResetProgressStage();
        m_uTotalSoFar += gathered;
        return OnProgress(gathered);
    }
    ++m_iCurrentStep;
    return true;
}

bool CZipActionCallback::RequestLastCallback(unsigned long long progress) {
    bool ret = true;
    unsigned long long total = m_uAccumulatedProgress + progress;
    if (total != 0) {
        m_uTotalSoFar += total;
        ret = OnProgress(total);
    }
    ResetProgressStage();
    return ret;
}

namespace ZipLib {

void CZipCallbackProvider::Set(CZipActionCallback* cb, int mask) {
    static const CZipActionCallback::CallbackType types[] = {
        CZipActionCallback::cbAdd,          CZipActionCallback::cbAddTmp,
        CZipActionCallback::cbAddStore,     CZipActionCallback::cbExtract,
        CZipActionCallback::cbDeleteCnt,    CZipActionCallback::cbDelete,
        CZipActionCallback::cbTest,         CZipActionCallback::cbSave,
        CZipActionCallback::cbGet,          CZipActionCallback::cbModify,
        CZipActionCallback::cbMoveData,     CZipActionCallback::cbCalculateForMulti,
        CZipActionCallback::cbMultiAdd,     CZipActionCallback::cbEncryptPrepare,
        CZipActionCallback::cbEncryptMoveData, CZipActionCallback::cbEncrypt,
        CZipActionCallback::cbMultiEncrypt,
    };
    for (CZipActionCallback::CallbackType t : types)
        if (t & mask) SetInternal(cb, t);
}

void CZipCallbackProvider::SetInternal(CZipActionCallback* cb, CZipActionCallback::CallbackType type) {
    if (cb) SetAt(type, cb);
    else RemoveKey(type);
}

CZipActionCallback* CZipCallbackProvider::Get(CZipActionCallback::CallbackType type) {
    CZipActionCallback* cb = nullptr;
    if (!Lookup(type, cb)) return nullptr;
    cb->m_iType = type;
    return cb;
}

}  // namespace ZipLib
