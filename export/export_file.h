#pragma once
// The export directory and the export file on disk.

#include <string>

// Makes sure the export directory exists: dir_name, or path + "kml_export"
// when dir_name is empty (stored back into dir_name for later exports). Only
// the last component is created. Reports and returns false when it can't be
// created or names something that is not a directory.
bool PrepareExportDirectory();

// Replaces dir_name + "/" + fileName with `bytes`, whole: the bytes go to a
// temporary of a new name (fileName + ".tmp." and six random characters),
// created exclusively in the same directory with mode 0644, which is renamed
// over the target only when every write and the close succeeded. Nothing
// that already exists under the temporary's name is followed or touched, and
// concurrent writers never share a temporary. On failure the message is
// reported, the temporary removed and the previous file kept.
bool WriteExportFile(const std::string& fileName, const std::string& bytes);
