#pragma once
// Writing under an extraction's target directory so that nothing already
// on disk is harmed: every component below the target is opened without
// following links, data goes into an exclusive temporary file beside its
// place and takes that place only once it is checked, and directory modes
// wait until nothing more goes into the directories.
#include <ctime>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ZipLib {

// The components an entry's name may use below the target: either kind of
// separator splits, empty, "." and ".." components are dropped, every
// other one is kept whole ("..." and "end." included).
std::vector<std::string> ConfinedComponents(const char* name);

class CDirectoryModes;

// Opens `base` as the caller named it (made with its parents when
// missing, links in it followed: it is the caller's path), then the first
// `count` of `parts` below it, each without following a link: a missing
// directory is made with mode 0777 less the umask, and told to `made`
// when given; a link standing in the way is replaced by a directory (made
// too). Returns the last directory's descriptor; throws 216 with `shown`
// as the path when a component cannot be made or is not a directory.
int OpenTargetDirectory(const std::string& base, const std::vector<std::string>& parts, size_t count,
                        const char* shown, CDirectoryModes* made = nullptr);

// The directory of the last file extracted, kept open for the next file
// of the same directory (archives keep a directory's files together): one
// walk a directory instead of one a file. A kept directory that has been
// removed meanwhile is walked to again.
class CDirectoryCache {
public:
    CDirectoryCache() = default;
    ~CDirectoryCache() { Forget(); }
    CDirectoryCache(const CDirectoryCache&) = delete;
    CDirectoryCache& operator=(const CDirectoryCache&) = delete;
    // OpenTargetDirectory's directory, owned by the cache.
    int Open(const std::string& base, const std::vector<std::string>& parts, size_t count, const char* shown,
             CDirectoryModes* made = nullptr);
    // The longest name the open directory's file system takes, asked once
    // per directory.
    size_t NameMax();
    // Removes from the open directory, once per directory until Forget,
    // the temporaries that killed extractions left: regular files named
    // ".zar" and six of [0-9a-z], of this user, with one link, that no
    // live extraction holds locked. Failures are passed over.
    void Sweep();
    // Closes the directory and forgets what was swept.
    void Forget();

private:
    void Release();

    std::string m_key;
    int m_fd = -1;
    long m_nameMax = 0;  // 0: not asked yet
    bool m_sweptOpen = false;  // Sweep asked since the directory was opened
    std::set<std::pair<dev_t, ino_t>> m_swept;
};

// Stored directory modes set once nothing more is extracted into the
// directories (a read-only one would refuse its own files). A mode goes
// only to a directory this extraction made, as unzip does (an entry ".ssh/"
// of mode 0777 leaves an existing ~/.ssh alone), and only to the very
// directory recorded (same device and inode), deepest first.
class CDirectoryModes {
public:
    ~CDirectoryModes() { Apply(); }
    // dirFd is a directory the extraction has just made.
    void Made(int dirFd);
    // dirFd is the directory at path, open now; passed over unless made.
    void Add(const std::string& path, int dirFd, unsigned mode);
    // Sets every recorded mode and forgets them and what was made; failures
    // are passed over.
    void Apply() noexcept;

private:
    struct Item {
        std::string path;
        dev_t device;
        ino_t inode;
        unsigned mode;
    };
    std::vector<Item> m_items;
    std::set<std::pair<dev_t, ino_t>> m_made;
};

// A new file in the directory dirFd, without a name where the file system
// offers that (O_TMPFILE), else of a fresh temporary name, locked while it
// lives. It takes leaf's place (replacing a file, a link: never written
// through) only at Install; gone without Install, nothing of it is left
// and leaf is as it was; a killed process leaves nothing of an unnamed one.
// createMode is passed to open, so the umask applies to it.
class CTemporaryTarget {
public:
    CTemporaryTarget(int dirFd, const std::string& leaf, unsigned createMode, const char* shown);
    ~CTemporaryTarget();
    CTemporaryTarget(const CTemporaryTarget&) = delete;
    CTemporaryTarget& operator=(const CTemporaryTarget&) = delete;

    // Throws the system error code with the shown path.
    void Write(const void* data, unsigned size);
    // Times (0 or less: now) and, when setMode, the permission bits; false
    // when either could not be set.
    bool SetTimesAndMode(time_t modification, time_t access, bool setMode, unsigned mode);
    // Puts the file in leaf's place (a link where nothing stands, else a
    // rename over what stands) and closes it; throws the system error
    // code (what a close reports, 36 a name too long), 218 (a directory
    // stands at leaf) or 219 (another failed link or rename) with the shown
    // path, nothing of the file left.
    void Install();

private:
    void Close();

    int m_dirFd;
    std::string m_leaf;
    std::string m_name;
    std::string m_shown;
    int m_fd;
};

}  // namespace ZipLib
