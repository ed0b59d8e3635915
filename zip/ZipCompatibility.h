#pragma once
// Host systems of the version-made-by field: attribute conversion, code
// pages of names and comments, path separators.
#include "ZipAutoBuffer.h"
#include "ZipString.h"

namespace ZipCompatibility {

// Host ids with an attribute converter (others up to 20 have none).
enum ZipPlatforms {
    zcDosFat = 0,
    zcUnix = 3,
    zcOs2Hpfs = 6,
    zcMacintosh = 7,
    zcNtfs = 11,
    zcVfat = 15,
    zcMacOsX = 20,
};

// The internal (DOS) attribute form.
enum InternalFileAttributes {
    attROnly = 0x01,
    attHidd = 0x02,
    attSys = 0x04,
    attDir = 0x10,
    attArch = 0x20,
};

// Code pages.
enum { cpSystemDefault = 0, cpOem = 1, cpUtf8 = 65001 };

// attr from the source host's form to the target's; unchanged when the ids
// are equal or either is above 20. A missing converter raises 220.
unsigned ConvertToSystem(unsigned attr, int fromSystem, int toSystem);
unsigned GetAsInternalAttributes(unsigned attr, int system);
bool IsPlatformSupported(int system);

unsigned GetDefaultNameCodePage(int system);
unsigned GetDefaultNameCodePage();
unsigned GetDefaultCommentCodePage(int system);
unsigned GetDefaultCommentCodePage();
unsigned GetDefaultPasswordCodePage(int system);

void ConvertBufferToString(CZipString& target, const CZipAutoBuffer& source, unsigned codePage);
void ConvertStringToBuffer(const char* source, CZipAutoBuffer& target, unsigned codePage);

// toBackslash true: '/' -> '\\', else '\\' -> '/'. Returns the count.
int SlashBackslashChg(CZipString& text, bool toBackslash);
// Separators of this platform ('/').
void NormalizePathSeparators(CZipString& text);

}  // namespace ZipCompatibility
