// Adding directory trees and selecting entries by wildcard.
#include <cstring>
#include <vector>

#include "Wildcard.h"
#include "ZipAddFilesEnumerator.h"
#include "ZipBundle.h"
#include "ZipRootPathRestorer.h"

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

bool CZipBundle::AddNewFiles(const char* directory, ZipLib::CFileFilter& filter, bool recursive, int level,
                             bool skipInitialPath, int smartness, unsigned long bufferSize) {
    CZipAddFilesEnumerator enumerator(directory, recursive, level, smartness, bufferSize);
    return AddNewFiles(enumerator, filter, skipInitialPath);
}

bool CZipBundle::AddNewFiles(CZipAddFilesEnumerator& enumerator, ZipLib::CFileFilter& filter, bool skipInitialPath) {
    if (IsClosed()) return false;
    enumerator.Initialize(this);
    const char* directory = enumerator.GetDirectory();
    // An archive written inside the tree it packs would read its own
    // growing file, or the volumes of an earlier run.
    std::vector<CZipString> own;
    if (!GetArchivePath().IsEmpty()) own.push_back(GetArchivePath());
    if (m_storage.IsSplit()) {
        try {
            for (unsigned v = 0; v < 1000; ++v) own.push_back(m_storage.GetSplitVolumeName((unsigned short)v, false));
            own.push_back(m_storage.GetSplitVolumeName(m_storage.GetCurrentVolume(), true));
        } catch (...) {
            // No names handler: no volumes to skip.
        }
    }
    enumerator.SkipFiles(own);
    CZipRootPathRestorer restorer;
    if (skipInitialPath) {
        bool here = !directory || !*directory || std::strcmp(directory, ".") == 0;
        restorer.SetNewRootPath(this, here ? nullptr : directory);
    }

    CZipActionCallback* multi = GetCallback(CZipActionCallback::cbMultiAdd);
    if (multi) {
        bool countDirectories = !(enumerator.GetSmartness() & zipsmIgnoreDirectories);
        CCalculateAddFilesEnumerator counter(directory, enumerator.IsRecursive(),
                                             GetCallback(CZipActionCallback::cbCalculateForMulti), countDirectories);
        counter.SkipFiles(own);
        if (!counter.Start(filter)) return false;
        // Counting may have fetched the same object under another type.
        multi = GetCallback(CZipActionCallback::cbMultiAdd);
        multi->MultiActionsInit(counter.m_uTotalFiles, counter.m_uTotalBytes, CZipActionCallback::cbAdd);
    }
    bool result;
    try {
        result = enumerator.Start(filter);
    } catch (...) {
        if (multi) multi->MultiActionsEnd();
        throw;
    }
    if (multi) multi->MultiActionsEnd();
    return result;
}
