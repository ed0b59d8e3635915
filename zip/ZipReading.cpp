// Opening existing archives and reading, testing and extracting entries:
// NOT DONE YET. Opening an existing archive throws 215 (see CZipBundle::Open);
// with no archive ever read, the entry operations refuse with false, 0 or
// 0xFFFF, and the directory and header readers refuse with 215.

#include "ZipBundle.h"
#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipStorage.h"

bool CZipBundle::OpenFrom(CZipBundle&, CZipAbstractFile*, bool) { return false; }
bool CZipBundle::IsZipFile(const char*) { return false; }
bool CZipBundle::IsZipFile(CZipAbstractFile&, bool) { return false; }
unsigned short CZipBundle::FindFile(const char*, int, bool) { return 0xFFFF; }
void CZipBundle::EnableFindFast(bool) {}
void CZipBundle::GetIndexes(const CZipArray<CZipString>&, CZipArray<unsigned short>&) {}
bool CZipBundle::ReadLocalHeader(unsigned short) { return false; }
bool CZipBundle::OpenFile(unsigned short) { return false; }
unsigned CZipBundle::ReadFile(void*, unsigned) { return 0; }
int CZipBundle::CloseFile(const char*, bool) { return 0; }
int CZipBundle::CloseFile(CZipFile&) { return 0; }
bool CZipBundle::ExtractFile(unsigned short, const char*, bool, const char*, ZipPlatform::FileOverwriteMode, unsigned) {
    return false;
}
bool CZipBundle::ExtractFile(unsigned short, CZipAbstractFile&, bool, unsigned) { return false; }
bool CZipBundle::TestFile(unsigned short, unsigned) { return false; }
CZipString CZipBundle::PredictExtractedFileName(const char*, const char*, bool, const char*) const {
    return CZipString();
}
unsigned short CZipBundle::WillBeDuplicated(const char*, bool, bool, int) { return 0xFFFF; }

void CZipCentralDir::Read() { ThrowError(CZipException::internalError); }
void CZipCentralDir::ReadHeaders() { ThrowError(CZipException::internalError); }
unsigned long long CZipCentralDir::LocateSignature() { return CZipStorage::SignatureNotFound; }
void CZipCentralDir::OpenFile(unsigned short) { ThrowError(CZipException::internalError); }
void CZipCentralDir::CloseFile(bool) { m_pOpenedFile = nullptr; }
unsigned short CZipCentralDir::FindFile(const char*, bool, bool, bool) { return 0xFFFF; }
void CZipCentralDir::EnableFindFast(bool, bool) {}
void CZipCentralDir::BuildFindFastArray(bool) {}
unsigned short CZipCentralDir::FindFileNameIndex(const char*) const { return 0xFFFF; }

bool CZipFileHeader::Read(bool) { return false; }
bool CZipFileHeader::ReadLocal(CZipCentralDir*) { return false; }
bool CZipFileHeader::CheckDataDescriptor(CZipStorage*) const { return false; }
void CZipFileHeader::ReadNtfsRecord() {}

unsigned long long CZipStorage::LocateSignature(char*, unsigned) { return SignatureNotFound; }
void CZipStorage::UpdateSegmMode(unsigned short) { ThrowError(CZipException::internalError); }
