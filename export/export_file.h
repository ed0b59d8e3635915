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

class FileSizeSignalHeld;

// A new version of dir_name + "/" + fileName, written under a temporary of
// a new name (fileName + ".tmp." and six random characters), created
// exclusively in the same directory with mode 0644, which Commit renames
// over the target only when every write and the close succeeded. Nothing
// that already exists under the temporary's name is followed or touched, and
// concurrent writers never share a temporary. While it lives, a write past
// the file size limit fails (EFBIG) instead of ending the process. Export
// thread only: the signal mask is the thread's.
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
    // The temporary, for writers that write to it themselves; the
    // descriptor stays this object's.
    int Descriptor() const { return fd_; }
    const std::string& TemporaryPath() const { return temporary_; }

    // Appends all `size` bytes; false (and every later Write false) once a
    // write failed.
    bool Write(const char* data, size_t size);

    // `written`: the caller's own writes succeeded too. Closes the
    // temporary and renames it over the target; on any failure reports it,
    // removes the temporary and keeps the previous file.
    bool Commit(bool written = true);

private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool failed_ = false;
    bool committed_ = false;
    std::unique_ptr<FileSizeSignalHeld> signalHeld_;
};

// Replaces dir_name + "/" + fileName with `bytes`, whole, through an
// ExportFile.
bool WriteExportFile(const std::string& fileName, const std::string& bytes);
