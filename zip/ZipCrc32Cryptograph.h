#pragma once
// Traditional PKWARE encryption: a 12-byte header before the data and a
// byte stream cipher over three 32-bit keys.
#include "ZipCryptograph.h"

class CZipCrc32Cryptograph : public CZipCryptograph {
public:
    // Initialises the keys from the password and reads the 12-byte header at
    // the storage's position. True when its last byte matches the entry's
    // check byte: the high byte of the DOS time when the entry has a data
    // descriptor, else the high byte of its CRC-32 (always true with
    // ignoreCheck). A wrong password passes one time in 256.
    bool InitDecode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage,
                    bool ignoreCheck) override;
    // Initialises the keys and writes the 12-byte header: 10 bytes from the
    // system's random source (200 when it fails), then the DOS time (the
    // check byte is its high byte); the header's compressed size grows by 12.
    void InitEncode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage) override;
    void Decode(char* buffer, unsigned size) override;
    void Encode(char* buffer, unsigned size) override;
    bool CanHandle(int method) override { return method == encStandard; }
    // The keys open the entry as well as the password does: zeroed.
    ~CZipCrc32Cryptograph() override;

    static unsigned GetEncryptedInfoSizeBeforeData() { return 12; }
    static unsigned GetEncryptedInfoSizeAfterData() { return 0; }

protected:
    void CryptInitKeys(CZipAutoBuffer& password);
    void CryptUpdateKeys(char c);
    char CryptDecryptByte();
    static unsigned CryptCRC32(unsigned crc, char c);
    void CryptEncode(char& c);
    void CryptDecode(char& c);

    unsigned m_keys[3] = {0, 0, 0};
};
