#pragma once
// Everything the archive library asks of the operating system (POSIX).
// Attributes are POSIX mode values; times are calendar seconds.
#include <ctime>

#include "ZipAutoBuffer.h"
#include "ZipString.h"

namespace ZipPlatform {

// A Windows file time: 100 ns intervals since 1601-01-01, low half first.
struct FILETIME {
    unsigned dwLowDateTime = 0;
    unsigned dwHighDateTime = 0;
};

// Bits of the overwrite mode of extraction and RemoveFile.
enum FileOverwriteMode {
    fomNone = 0,
    fomRemoveReadOnly = 0x01,  // clear a read-only attribute before removing
    fomOnlyIfNewer = 0x02,     // keep an existing file at least as new
};

int GetSystemID();                 // 3 (Unix)
bool GetSystemCaseSensitivity();   // true
unsigned GetDefaultAttributes();   // 0100644
unsigned GetDefaultDirAttributes();  // 040755
bool IsDirectory(unsigned attr);

bool GetFileAttr(const char* filePath, unsigned& attr);
bool SetFileAttr(const char* filePath, unsigned attr);
bool SetExeAttr(const char* filePath);
// Outputs may be null. On failure every given output is the current time.
bool GetFileTimes(const char* filePath, time_t* modification, time_t* creation = nullptr,
                  time_t* lastAccess = nullptr);
bool SetFileTimes(const char* filePath, const time_t* modification, const time_t* creation = nullptr,
                  const time_t* lastAccess = nullptr);
// False when the file cannot be opened or is 4 GiB or more.
bool GetFileSize(const char* filePath, unsigned& size);
// 0 missing, -1 directory, 1 anything else.
int FileExists(const char* filePath);
bool CreateNewDirectory(const char* filePath);
// Creates the directory and every missing parent.
bool ForceDirectory(const char* filePath);
bool ChangeDirectory(const char* filePath);
bool GetCurrentDirectory(CZipString& filePath);
// Raises 218 on failure when raise is true.
bool RemoveFile(const char* filePath, bool raise = true, int mode = fomNone);
// Raises 219 on failure when raise is true.
bool RenameFile(const char* from, const char* to, bool raise = true);
unsigned long long GetDeviceFreeSpace(const char* filePath);
// A new empty file "zarXXXXXX" in dir (or /tmp); empty when impossible.
CZipString GetTmpFileName(const char* dir = nullptr, unsigned long long spaceNeeded = 0);
bool IsDriveRemovable(const char* filePath);
bool SetVolLabel(const char* filePath, const char* label);
void AnsiOem(CZipAutoBuffer& buffer, bool ansiToOem);

// open() with mode 0644; share is not used here. Returns -1 on failure.
int OpenFile(const char* filePath, unsigned flags, int share);
bool TruncateFile(int fd, unsigned long long length);
bool FlushFile(int fd);
int GetFileSystemHandle(int fd);

// A time of 0 or less means now.
void ConvertTimeToFileTime(const time_t& t, FILETIME& ft);
bool ConvertFileTimeToTime(const FILETIME& ft, time_t& t);

}  // namespace ZipPlatform
