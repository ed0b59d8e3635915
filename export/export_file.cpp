#include "export/export_file.h"

#include "export/export_report.h"
#include "export/export_settings.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

bool PrepareExportDirectory() {
    if (dir_name.empty()) dir_name = path + "kml_export";
    struct stat st {};
    if (stat(dir_name.c_str(), &st) != 0) {
        if (mkdir(dir_name.c_str(), 0777) != 0) {
            ExportReport("Can't create directory: %s\n", dir_name.c_str());
            return false;
        }
    } else if (!S_ISDIR(st.st_mode)) {
        ExportReport("%s is not directory\n", dir_name.c_str());
        return false;
    }
    return true;
}

bool WriteExportFile(const std::string& fileName, const std::string& bytes) {
    const std::string target = dir_name + "/" + fileName;
    const std::string temporary = target + ".tmp";

    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        ExportReport("Can't open file %s for writing!\n", target.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        ExportReport("Can't write file %s\n", target.c_str());
        unlink(temporary.c_str());
        return false;
    }
    // The rename fails, for one, when a directory holds the target's name.
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        ExportReport("Can't open file %s for writing!\n", target.c_str());
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
