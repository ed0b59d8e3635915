#include "DirEnumerator.h"

#include <cstring>
#include <deque>
#include <vector>
#include <sys/stat.h>

#include "ZipPathComponent.h"
#include "ZipPlatform.h"

namespace ZipLib {

bool CFileInfo::IsDirectory() const { return ZipPlatform::IsDirectory(m_uAttributes); }

bool CDirEnumerator::IsDots(const char* name) {
    return name && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0);
}

void CDirEnumerator::SkipFiles(const std::vector<CZipString>& paths) {
    m_skipped.clear();
    for (const CZipString& path : paths) {
        CZipPathComponent component(path);
        CZipString dir = component.GetFilePath();
        struct stat st;
        if (::stat(dir.IsEmpty() ? "." : dir.c_str(), &st) != 0) continue;
        m_skipped.push_back({(unsigned long long)st.st_dev, (unsigned long long)st.st_ino, component.GetFileName()});
    }
}

bool CDirEnumerator::Start(CFileFilter& filter) {
    OnEnumerationBegin();
    m_uLinksLeftOut = 0;
    std::deque<CZipString> pending;
    // The start directory itself gives no part of the names: a walk of "."
    // names "a.txt", not "./a.txt".
    const bool here = !m_lpszDirectory || !*m_lpszDirectory || std::strcmp(m_lpszDirectory, ".") == 0;
    pending.push_back(here ? "" : m_lpszDirectory);
    bool result = true;
    while (!pending.empty() && result) {
        m_szCurrentDirectory = pending.front();
        pending.pop_front();
        if (!m_szCurrentDirectory.IsEmpty()) CZipPathComponent::AppendSeparator(m_szCurrentDirectory);
        EnterDirectory();
        {
            CFindHandleReleaser dir(opendir(m_szCurrentDirectory.IsEmpty() ? "." : m_szCurrentDirectory.c_str()));
            std::vector<const Skipped*> skipHere;
            struct stat dst;
            if (dir.m_dir && !m_skipped.empty() && ::fstat(dirfd(dir.m_dir), &dst) == 0)
                for (const Skipped& s : m_skipped)
                    if (s.device == (unsigned long long)dst.st_dev && s.inode == (unsigned long long)dst.st_ino)
                        skipHere.push_back(&s);
            while (dir.m_dir) {
                const dirent* entry = readdir(dir.m_dir);
                if (!entry) break;
                bool skip = false;
                for (const Skipped* s : skipHere) skip = skip || s->name == entry->d_name;
                if (skip) continue;
                CZipString path = m_szCurrentDirectory + entry->d_name;
                struct stat st;
                if (::lstat(path, &st) != 0) continue;
                if (S_ISLNK(st.st_mode)) {
                    // Followed to a file only: a directory behind a link
                    // could lead back up the tree.
                    struct stat target;
                    if (::stat(path, &target) != 0 || S_ISDIR(target.st_mode)) {
                        ++m_uLinksLeftOut;
                        continue;
                    }
                    st = target;
                }
                // Only regular files and directories go on: reading a FIFO,
                // socket or device may block for ever.
                bool isDir = S_ISDIR(st.st_mode);
                if (!isDir && !S_ISREG(st.st_mode)) continue;
                if (isDir && (!m_bRecursive || IsDots(entry->d_name))) continue;
                CFileInfo info;
                info.m_uSize = (unsigned long long)st.st_size;
                info.m_uAttributes = (unsigned)st.st_mode;
                info.m_tCreationTime = st.st_ctime;
                info.m_tModificationTime = st.st_mtime;
                info.m_tLastAccessTime = st.st_atime;
                if (isDir) {
                    if (!filter.HandlesFile(info) ||
                        (filter.Evaluate(m_szCurrentDirectory, entry->d_name, info) && Process(path, info)))
                        pending.push_back(path);
                } else if (filter.HandlesFile(info) && filter.Evaluate(m_szCurrentDirectory, entry->d_name, info) &&
                           !Process(path, info)) {
                    result = false;
                    break;
                }
            }
        }
        ExitDirectory();
    }
    OnEnumerationEnd(result);
    return result;
}

}  // namespace ZipLib
