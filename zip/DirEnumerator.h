#pragma once
#include <vector>
// A breadth-first walk of a directory tree that hands every file and
// directory a filter accepts to Process.
#include <ctime>
#include <dirent.h>

#include "ZipString.h"

namespace ZipLib {

struct CFileInfo {
    bool IsDirectory() const;
    unsigned long long m_uSize = 0;
    unsigned m_uAttributes = 0;
    time_t m_tCreationTime = 0;
    time_t m_tModificationTime = 0;
    time_t m_tLastAccessTime = 0;
};

// Supplied by the caller.
class CFileFilter {
public:
    explicit CFileFilter(bool inverted = false) : m_bInverted(inverted) {}
    virtual ~CFileFilter() = default;

    virtual bool HandlesFile(const CFileInfo& info) { (void)info; return true; }
    bool Evaluate(const char* parentDir, const char* name, const CFileInfo& info) {
        bool ret = Accept(parentDir, name, info);
        if (!HandlesInversion() && m_bInverted) ret = !ret;
        return ret;
    }
    bool IsInverted() const { return m_bInverted; }
    void SetInverted(bool inverted = true) { m_bInverted = inverted; }

protected:
    virtual bool Accept(const char* parentDir, const char* name, const CFileInfo& info) = 0;
    virtual bool HandlesInversion() const { return false; }

    bool m_bInverted;
};

// Closes a directory stream when it goes out of scope.
class CFindHandleReleaser {
public:
    explicit CFindHandleReleaser(DIR* dir) : m_dir(dir) {}
    CFindHandleReleaser(const CFindHandleReleaser&) = delete;
    CFindHandleReleaser& operator=(const CFindHandleReleaser&) = delete;
    ~CFindHandleReleaser() {
        if (m_dir) closedir(m_dir);
    }
    DIR* m_dir;
};

class CDirEnumerator {
public:
    // directory is not copied; empty means ".".
    CDirEnumerator(const char* directory, bool recursive = true) : m_lpszDirectory(directory), m_bRecursive(recursive) {}
    virtual ~CDirEnumerator() = default;

    // True when the walk ran to its end.
    bool Start(CFileFilter& filter);
    const char* GetDirectory() const { return m_lpszDirectory; }
    bool IsRecursive() const { return m_bRecursive; }
    static bool IsDots(const char* name);
    // Files the walk never hands on (an archive's own volumes): by path,
    // whether they exist yet or not. Set before Start.
    void SkipFiles(const std::vector<CZipString>& paths);
    // Symbolic links left out by the last walk: links to directories (not
    // entered, so no link can loop the walk) and links that cannot be
    // followed. A link to a file is handed on as that file under its own
    // name.
    unsigned GetLinksLeftOut() const { return m_uLinksLeftOut; }

protected:
    virtual bool Process(const char* filePath, const CFileInfo& info) = 0;
    virtual void OnEnumerationBegin() {}
    virtual void OnEnumerationEnd(bool result) { (void)result; }
    virtual void EnterDirectory() {}
    virtual void ExitDirectory() {}

    const char* m_lpszDirectory;
    bool m_bRecursive;
    CZipString m_szCurrentDirectory;
    unsigned m_uLinksLeftOut = 0;
    // Skipped files as (directory device, directory inode, name).
    struct Skipped {
        unsigned long long device, inode;
        CZipString name;
    };
    std::vector<Skipped> m_skipped;
};

}  // namespace ZipLib
