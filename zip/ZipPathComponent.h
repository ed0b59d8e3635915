#pragma once
// Splits a path into prefix, drive (always empty here), directory, title and
// extension, and joins them again.
#include "ZipString.h"

class CZipPathComponent {
public:
    static const char m_cSeparator = '/';

    CZipPathComponent() = default;
    explicit CZipPathComponent(const char* filePath) { SetFullPath(filePath); }
    virtual ~CZipPathComponent() = default;

    void SetFullPath(const char* filePath);
    CZipString GetFileTitle() const { return m_szFileTitle; }
    void SetFileTitle(const char* title) { m_szFileTitle = title; }
    CZipString GetFileName() const;
    CZipString GetFileExt() const { return m_szFileExt; }
    void SetExtension(const char* ext);
    CZipString GetFileDrive() const { return m_szDrive; }
    CZipString GetFileDir() const { return m_szDirectory; }
    CZipString GetFilePath() const;
    CZipString GetFullPath() const;
    CZipString GetNoDrive() const;

    static bool IsSeparator(char c) { return c == '/' || c == '\\'; }
    static bool HasEndingSeparator(const CZipString& filePath);
    static void RemoveSeparators(CZipString& filePath) { filePath.TrimRight("\\/"); }
    static void RemoveSeparatorsLeft(CZipString& filePath) { filePath.TrimLeft("\\/"); }
    static void AppendSeparator(CZipString& filePath);

protected:
    CZipString m_szDirectory;
    CZipString m_szFileTitle;
    CZipString m_szFileExt;
    CZipString m_szDrive;
    CZipString m_szPrefix;
    // The name had a dot before its (possibly empty) extension: "end." and
    // "..." must come back whole, not as "end" and "..".
    bool m_bHasDot = false;
};
