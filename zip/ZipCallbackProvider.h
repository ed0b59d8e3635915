#pragma once
// The archive's callbacks by type; the archive never owns them.
#include "ZipCallback.h"
#include "ZipCollections.h"

namespace ZipLib {
class CZipCallbackProvider : public CZipMap<CZipActionCallback::CallbackType, CZipActionCallback*> {
public:
    // Registers cb for every type sharing a bit with mask; a type that has
    // one keeps it; a null cb removes the type's entry.
    void Set(CZipActionCallback* cb, int mask);
    // The callback of exactly that type, told the type it was fetched for.
    CZipActionCallback* Get(CZipActionCallback::CallbackType type);

protected:
    void SetInternal(CZipActionCallback* cb, CZipActionCallback::CallbackType type);
};
}  // namespace ZipLib
