#pragma once
// The export directory and the export file on disk.

#include <cstddef>
#include <memory>
#include <string>

// Makes sure the export directory exists: dir_name, or path + "kml_export"
// when dir_name is empty (stored back into dir_name for later exports). Only
// the last component is created. Reports and returns false when it can't be
// created or names something that is not a directory.
bool PrepareExportDirectory();

// The export files' names in the export directory.
constexpr char kKmlExportName[] = "aisBrinecastSnapshot.kml";
constexpr char kKmzExportName[] = "aisBrinecastSnapshot.kmz";

// Removes from the export directory (dir_name, or its default, stored back
// as PrepareExportDirectory does) what killed exports left: regular files
// named as a named temporary of either export file (the file's name,
// ".tmp." and six letters or digits) that no export still holds open, since
// every export holds a lock on its own. Nothing else is touched and no link
// is followed; a missing directory is not created.
void RemoveStaleExportTemporaries();
// The same once per process; later calls return at once.
void RemoveStaleExportTemporariesOnce();

class FileSizeSignalHeld;

// A new version of dir_name + "/" + fileName, written to a temporary that
// has no name in the directory (O_TMPFILE) and gets one only when Commit
// renames it over the target, after every write succeeded: a kill while it
// is written leaves nothing behind. On a file system that can't make or
// link such a file, the temporary is named from the start (fileName +
// ".tmp." and six random characters), created exclusively; one left by a
// kill is removed by RemoveStaleExportTemporaries. Either way it has mode
// 0644, nothing that already exists under a temporary's name is followed or
// touched, and concurrent writers never share a temporary. While it lives,
// a write past the file size limit fails (EFBIG) instead of ending the
// process. Export thread only: the signal mask is the thread's.
class ExportFile {
public:
    // Creates the temporary; Created() is false, and the failure reported,
    // when it can't.
    explicit ExportFile(const std::string& fileName);
    // Removes the temporary unless it was committed.
    ~ExportFile();
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    bool Created() const { return fd_ >= 0; }
    // The temporary, for writers that write to it themselves (it is open
    // for reading too); the descriptor stays this object's.
    int Descriptor() const { return fd_; }
    // What to call the temporary in messages: its path, or the target's
    // while it has none.
    const std::string& Name() const { return temporary_.empty() ? target_ : temporary_; }

    // Appends all `size` bytes; false (and every later Write false) once a
    // write failed.
    bool Write(const char* data, size_t size);

    // `written`: the caller's own writes succeeded too. Gives the temporary
    // its name, closes it and renames it over the target; on any failure
    // reports it, removes the temporary and keeps the previous file.
    bool Commit(bool written = true);

private:
    // Links the nameless temporary under a fresh temporary name.
    bool name();
    // Closes and removes the temporary.
    void discard();

    std::string target_;
    std::string temporary_;  // the temporary's path; empty while it has none
    int fd_ = -1;
    bool failed_ = false;
    bool committed_ = false;
    std::unique_ptr<FileSizeSignalHeld> signalHeld_;
};

// Replaces dir_name + "/" + fileName with `bytes`, whole, through an
// ExportFile.
bool WriteExportFile(const std::string& fileName, const std::string& bytes);
