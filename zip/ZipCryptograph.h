#pragma once
// The interface through which compressors encrypt and decrypt entry data.
#include "ZipAutoBuffer.h"

class CZipFileHeader;
class CZipStorage;

class CZipCryptograph {
public:
    enum EncryptionMethod {
        encStandard = 0,   // traditional PKWARE encryption
        encWinZipAes128 = 1,
        encWinZipAes192 = 2,
        encWinZipAes256 = 3,
        encNone = 0xFF,
    };

    // A cryptograph for any method but 255 (none: null).
    static CZipCryptograph* CreateCryptograph(int method);
    static bool IsEncryptionSupported(int method) { return method == encStandard; }
    static bool IsWinZipAesEncryption(int method) { return method >= 1 && method <= 3; }
    // Bytes the method adds to an entry: 12 before the data for method 0.
    static unsigned GetEncryptedInfoSize(int method) {
        return GetEncryptedInfoSizeBeforeData(method) + GetEncryptedInfoSizeAfterData(method);
    }
    static unsigned GetEncryptedInfoSizeBeforeData(int method) { return method == encStandard ? 12 : 0; }
    static unsigned GetEncryptedInfoSizeAfterData(int method) { (void)method; return 0; }

    // Reads the encryption header; false when the check byte is wrong.
    virtual bool InitDecode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage,
                            bool ignoreCheck) = 0;
    // Writes the encryption header after the local header.
    virtual void InitEncode(CZipAutoBuffer& password, CZipFileHeader& header, CZipStorage& storage) = 0;
    virtual void Decode(char* buffer, unsigned size) = 0;
    virtual void Encode(char* buffer, unsigned size) = 0;
    virtual void FinishDecode(CZipFileHeader& header, CZipStorage& storage) { (void)header; (void)storage; }
    virtual void FinishEncode(CZipFileHeader& header, CZipStorage& storage) { (void)header; (void)storage; }
    virtual bool CanHandle(int method) { (void)method; return false; }
    virtual ~CZipCryptograph() = default;
};
