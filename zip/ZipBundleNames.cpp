// Names in the archive made from paths on disk.
#include "ZipBundle.h"

void CZipBundle::SetRootPath(const char* path) {
    if (IsClosed() || m_iFileOpened != nothing) return;
    if (!path) {
        m_szRootPath.Empty();
        return;
    }
    m_szRootPath = path;
    CZipPathComponent::RemoveSeparators(m_szRootPath);
}

CZipString CZipBundle::TrimRootPath(CZipPathComponent& component) const {
    if (m_szRootPath.IsEmpty()) return component.GetFileName();
    CZipString path = component.GetFullPath();
    if (RemovePathBeginning(m_szRootPath, path, m_pZipCompare)) return path;
    return component.GetFileName();
}

bool CZipBundle::RemovePathBeginning(const char* beginning, CZipString& path, ZIPSTRINGCOMPARE compare) {
    CZipString start(beginning);
    CZipPathComponent::RemoveSeparators(start);
    size_t n = start.size();
    if (n == 0 || n > path.size()) return false;
    CZipString head = path.Left(int(n));
    if ((head.*compare)(start) != 0) return false;
    if (path.size() == n) {
        path.Empty();
        return true;
    }
    if (CZipPathComponent::IsSeparator(path[n])) {
        path = path.Mid(int(n));
        CZipPathComponent::RemoveSeparatorsLeft(path);
        return true;
    }
    return false;
}

CZipString CZipBundle::PredictFileNameInZip(const char* path, bool fullPath, int what) const {
    CZipString file(path);
    if (file.IsEmpty()) return CZipString();
    bool isDir = what == prDir || (what == prAuto && CZipPathComponent::HasEndingSeparator(file));
    CZipPathComponent::RemoveSeparators(file);
    if (file.IsEmpty()) return CZipString();
    CZipString name;
    CZipPathComponent component(file);
    if (!fullPath) name = TrimRootPath(component);
    else if (m_bRemoveDriveLetter) name = component.GetNoDrive();
    else name = file;
    if (isDir && !name.IsEmpty()) name += CZipPathComponent::m_cSeparator;
    return name;
}
