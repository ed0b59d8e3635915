#include "ZipPathComponent.h"

#include <cctype>

void CZipPathComponent::SetFullPath(const char* path) {
    CZipString rest(path);
    static const char unc[] = "\\\\?\\unc\\";
    size_t common = 0;
    while (common < 8 && common < rest.size() &&
           std::tolower((unsigned char)rest.std::string::operator[](common)) == unc[common])
        ++common;
    if (common == 2 || common == 4 || common == 8) {
        m_szPrefix = rest.Left(int(common));
        rest = rest.Mid(int(common));
    } else {
        m_szPrefix.Empty();
    }
    m_szDrive.Empty();
    m_szDirectory.Empty();
    m_szFileTitle.Empty();
    m_szFileExt.Empty();
    CZipString name;
    size_t slash = rest.rfind('/');
    if (slash == std::string::npos) {
        name = rest;
    } else {
        m_szDirectory = rest.Left(int(slash));
        name = rest.Mid(int(slash + 1));
    }
    size_t dot = name.rfind('.');
    m_bHasDot = dot != std::string::npos;
    if (dot == std::string::npos) {
        m_szFileTitle = name;
    } else {
        m_szFileTitle = name.Left(int(dot));
        m_szFileExt = name.Mid(int(dot + 1));
    }
}

CZipString CZipPathComponent::GetFileName() const {
    CZipString name = m_szFileTitle;
    if (m_bHasDot) {
        name += '.';
        name += m_szFileExt;
    }
    return name;
}

void CZipPathComponent::SetExtension(const char* ext) {
    m_szFileExt = ext;
    m_szFileExt.TrimLeft('.');
    m_bHasDot = !m_szFileExt.IsEmpty();
}

CZipString CZipPathComponent::GetFilePath() const {
    CZipString path = m_szPrefix + m_szDrive;
    if (!m_szDrive.IsEmpty() && !m_szDirectory.IsEmpty()) path += m_cSeparator;
    path += m_szDirectory;
    return path;
}

CZipString CZipPathComponent::GetFullPath() const {
    CZipString path = GetFilePath();
    CZipString name = GetFileName();
    if (!name.IsEmpty()) {
        if (path.IsEmpty()) path += '.';
        path += m_cSeparator;
        path += name;
    }
    return path;
}

CZipString CZipPathComponent::GetNoDrive() const {
    CZipString path = m_szDirectory;
    CZipString name = GetFileName();
    if (!m_szDirectory.IsEmpty() && !name.IsEmpty()) path += m_cSeparator;
    path += name;
    return path;
}

bool CZipPathComponent::HasEndingSeparator(const CZipString& path) {
    return !path.empty() && IsSeparator(path.back());
}

void CZipPathComponent::AppendSeparator(CZipString& path) {
    RemoveSeparators(path);
    path += m_cSeparator;
}
