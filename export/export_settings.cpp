#include "export/export_settings.h"

uint16_t exportTime = 0;
bool useKmz = true;
int64_t purgeSnapshotTime = 900;
std::string dir_name;
std::string imagesUrlDir;
std::string path;
