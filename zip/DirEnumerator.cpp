#include "DirEnumerator.h"

#include <cstring>
#include <deque>
#include <sys/stat.h>

#include "ZipPathComponent.h"
#include "ZipPlatform.h"

namespace ZipLib {

bool CFileInfo::IsDirectory() const { return ZipPlatform::IsDirectory(m_uAttributes); }

bool CDirEnumerator::IsDots(const char* name) {
    return name && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0);
}

bool CDirEnumerator::Start(CFileFilter& filter) {
    OnEnumerationBegin();
    std::deque<CZipString> pending;
    pending.push_back(m_lpszDirectory && *m_lpszDirectory ? m_lpszDirectory : ".");
    bool result = true;
    while (!pending.empty() && result) {
        m_szCurrentDirectory = pending.front();
        pending.pop_front();
        CZipPathComponent::AppendSeparator(m_szCurrentDirectory);
        EnterDirectory();
        {
            CFindHandleReleaser dir(opendir(m_szCurrentDirectory));
            while (dir.m_dir) {
                const dirent* entry = readdir(dir.m_dir);
                if (!entry) break;
                CZipString path = m_szCurrentDirectory + entry->d_name;
                // lstat: a link is never followed, so a link to a parent
                // cannot loop the walk; only regular files and directories
                // go on, since reading a FIFO, socket or device may block
                // for ever.
                struct stat st;
                if (::lstat(path, &st) != 0) continue;
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
