// Selecting entries by wildcard.
#include "Wildcard.h"
#include "ZipBundle.h"

void CZipBundle::FindMatches(const char* pattern, CZipArray<unsigned short>& indexes, bool fullPath) {
    if (IsClosed()) return;
    ZipLib::CWildcard wildcard(pattern, m_bCaseSensitive);
    unsigned short count = GetCount();
    for (unsigned short i = 0; i < count; ++i) {
        CZipString name = m_centralDir[i]->GetFileName(false);
        if (!fullPath) {
            CZipPathComponent::RemoveSeparators(name);
            name = CZipPathComponent(name).GetFileName();
        }
        if (wildcard.IsMatch(name)) indexes.Add(i);
    }
}
