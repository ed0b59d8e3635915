// Segmented archives: the names of their volumes.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "zip/ZipSplitNamesHandler.h"

TEST(SegmentedNames, VolumesAndNumbers) {
    struct Case {
        bool binary;
        const char* archive;
        unsigned short volume;
        int flags;
        const char* name;
    } cases[] = {
        {false, "/d/a.zip", 1, 0, "/d/a.z01"},
        {false, "/d/a.zip", 99, 0, "/d/a.z99"},
        {false, "/d/a.zip", 100, 0, "/d/a.z100"},
        {false, "/d/a.zip", 3, CZipSplitNamesHandler::flLast, "/d/a.zip"},
        {false, "/d.x/a", 2, 0, "/d.x/a.z02"},
        {true, "/d/a.zip", 1, 0, "/d/a.zip.001"},
        {true, "/d/a.zip", 1000, 0, "/d/a.zip.1000"},
        {true, "/d/a.zip.003", 1, CZipSplitNamesHandler::flExisting, "/d/a.zip.001"},
    };
    for (const Case& c : cases) {
        CZipRegularSplitNamesHandler regular;
        CZipBinSplitNamesHandler binary;
        CZipSplitNamesHandler& h = c.binary ? static_cast<CZipSplitNamesHandler&>(binary) : regular;
        h.Initialize(c.archive);
        EXPECT_EQ(h.GetVolumeName(c.archive, c.volume, c.flags), c.name) << c.archive << " " << c.volume;
    }
    CZipBinSplitNamesHandler binary;
    for (auto& n : std::map<std::string, unsigned>{
             {"a.zip", 0}, {"a.007", 7}, {"a.00x", 0}, {"a.01", 0}, {"a.000", 0}, {"a.4294967296", 0}, {"a.1000", 1000}})
        EXPECT_EQ(binary.GetVolumeNumber(n.first.c_str()), n.second) << n.first;
}
