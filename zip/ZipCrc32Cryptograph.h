#pragma once
// Traditional PKWARE encryption: a 12-byte header before the data and a
// byte stream cipher over three 32-bit keys.
#include "ZipCryptograph.h"

class CZipCrc32Cryptograph : public CZipCryptograph {
public:
    bool InitDecode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage,
                    bool ignoreCheck) override;
    void InitEncode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage) override;
    void Decode(char* buffer, unsigned size) override;
    void Encode(char* buffer, unsigned size) override;
    bool CanHandle(int method) override { return method == encStandard; }
    ~CZipCrc32Cryptograph() override = default;

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
