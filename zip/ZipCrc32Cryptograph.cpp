#include "ZipCrc32Cryptograph.h"

#include <cerrno>
#include <cstring>
#include <sys/random.h>
#include <zlib.h>

#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipStorage.h"

namespace {

const unsigned kHeaderSize = 12;

const z_crc_t* CrcTable() {
    static const z_crc_t* const table = get_crc_table();
    return table;
}

// The random part of an encryption header comes from the kernel for every
// entry: a generator seeded with the time would give two entries encrypted
// in the same second with one password the same keystream.
void FillRandom(char* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = getrandom(buffer + got, size - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            CZipException::Throw(CZipException::genericError);
        }
        got += size_t(n);
    }
}

}  // namespace

CZipCrc32Cryptograph::~CZipCrc32Cryptograph() { explicit_bzero(m_keys, sizeof m_keys); }

unsigned CZipCrc32Cryptograph::CryptCRC32(unsigned crc, char c) {
    return unsigned(CrcTable()[(crc ^ (unsigned char)c) & 0xFF]) ^ (crc >> 8);
}

void CZipCrc32Cryptograph::CryptInitKeys(CZipAutoBuffer& password) {
    m_keys[0] = 0x12345678;
    m_keys[1] = 0x23456789;
    m_keys[2] = 0x34567890;
    const char* p = password.GetBuffer();
    for (unsigned i = 0; i < password.GetSize(); ++i) CryptUpdateKeys(p[i]);
}

void CZipCrc32Cryptograph::CryptUpdateKeys(char c) {
    m_keys[0] = CryptCRC32(m_keys[0], c);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = CryptCRC32(m_keys[2], char(m_keys[1] >> 24));
}

char CZipCrc32Cryptograph::CryptDecryptByte() {
    unsigned t = (m_keys[2] | 2) & 0xFFFF;
    return char(((t * (t ^ 1)) >> 8) & 0xFF);
}

void CZipCrc32Cryptograph::CryptEncode(char& c) {
    char stream = CryptDecryptByte();
    CryptUpdateKeys(c);
    c = char(c ^ stream);
}

void CZipCrc32Cryptograph::CryptDecode(char& c) {
    c = char(c ^ CryptDecryptByte());
    CryptUpdateKeys(c);
}

void CZipCrc32Cryptograph::Encode(char* buffer, unsigned size) {
    for (unsigned i = 0; i < size; ++i) CryptEncode(buffer[i]);
}

void CZipCrc32Cryptograph::Decode(char* buffer, unsigned size) {
    for (unsigned i = 0; i < size; ++i) CryptDecode(buffer[i]);
}

void CZipCrc32Cryptograph::InitEncode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage) {
    CryptInitKeys(password);
    char buf[kHeaderSize];
    FillRandom(buf, 10);
    buf[10] = char(header.m_uModTime & 0xFF);
    buf[11] = char(header.m_uModTime >> 8);
    Encode(buf, kHeaderSize);
    storage.Write(buf, kHeaderSize, false);
    header.m_uComprSize += kHeaderSize;
}

bool CZipCrc32Cryptograph::InitDecode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage,
                                      bool ignoreCheck) {
    CryptInitKeys(password);
    char buf[kHeaderSize];
    storage.Read(buf, kHeaderSize, false);
    Decode(buf, kHeaderSize);
    if (ignoreCheck) return true;
    unsigned char check = header.IsDataDescriptor() ? (unsigned char)(header.m_uModTime >> 8)
                                                    : (unsigned char)(header.m_uCrc32 >> 24);
    return (unsigned char)buf[11] == check;
}
