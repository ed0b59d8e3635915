#include "ZipCompatibility.h"

#include <cstring>

#include "ZipException.h"
#include "ZipPlatform.h"

namespace ZipCompatibility {
namespace {

typedef unsigned (*ConvFunc)(unsigned attr, bool toInternal);

unsigned AttrDos(unsigned attr, bool) { return attr; }

unsigned AttrMac(unsigned attr, bool) { return attr & (attDir | attROnly); }

unsigned AttrUnix(unsigned attr, bool toInternal) {
    if (toInternal) {
        unsigned r = 0;
        bool dir = (attr & 0x4000) != 0;
        if (dir) r |= attDir;
        else if (!(attr & 0x40)) r |= attArch;
        if (!(attr & 0x80)) r |= attROnly;
        if (!(attr & 0x20) && !(attr & 0x04)) r |= attHidd;
        return r;
    }
    unsigned r = 0x100;
    if (!(attr & attHidd)) r |= 0x24;
    if (!(attr & attROnly)) r |= 0x90;
    if (attr & attDir) r |= 0x4000 | 0x49;
    else r |= 0x8000;
    return r;
}

const ConvFunc conv_funcs[21] = {
    AttrDos, nullptr, nullptr, AttrUnix, nullptr, nullptr, AttrDos, AttrMac, nullptr, nullptr, nullptr,
    AttrDos, nullptr, nullptr, nullptr, AttrDos, nullptr, nullptr, nullptr, nullptr, AttrMac,
};

ConvFunc Converter(int system) {
    ConvFunc f = conv_funcs[system];
    if (!f) CZipException::Throw(CZipException::platfNotSupp);
    return f;
}

}  // namespace

unsigned ConvertToSystem(unsigned attr, int fromSystem, int toSystem) {
    if (fromSystem == toSystem || fromSystem < 0 || toSystem < 0 || fromSystem > 20 || toSystem > 20) return attr;
    ConvFunc from = Converter(fromSystem);
    ConvFunc to = Converter(toSystem);
    return to(from(attr, true), false);
}

unsigned GetAsInternalAttributes(unsigned attr, int system) {
    if (system < 0 || system > 20) return attr;
    return Converter(system)(attr, true);
}

bool IsPlatformSupported(int system) { return system >= 0 && system <= 20 && conv_funcs[system] != nullptr; }

unsigned GetDefaultNameCodePage(int system) {
    switch (system) {
    case zcDosFat:
    case zcNtfs: return cpOem;
    case zcUnix:
    case zcMacintosh:
    case zcMacOsX: return cpUtf8;
    default: return cpSystemDefault;
    }
}

unsigned GetDefaultNameCodePage() { return GetDefaultNameCodePage(ZipPlatform::GetSystemID()); }

unsigned GetDefaultCommentCodePage(int system) {
    switch (system) {
    case zcUnix:
    case zcMacintosh:
    case zcMacOsX: return cpUtf8;
    default: return cpSystemDefault;
    }
}

unsigned GetDefaultCommentCodePage() { return GetDefaultCommentCodePage(ZipPlatform::GetSystemID()); }

unsigned GetDefaultPasswordCodePage(int system) { return GetDefaultCommentCodePage(system); }

void ConvertBufferToString(CZipString& target, const CZipAutoBuffer& source, unsigned codePage) {
    if (!source.IsAllocated()) {
        target.Empty();
        return;
    }
    if (codePage != cpOem) {
        target.assign(source.GetBuffer(), source.GetSize());
        return;
    }
    CZipAutoBuffer bytes(source);
    ZipPlatform::AnsiOem(bytes, false);
    target.assign(bytes.GetBuffer(), bytes.GetSize());
    // The source may be a password: its working copy is not left in freed memory.
    bytes.Wipe();
}

void ConvertStringToBuffer(const char* source, CZipAutoBuffer& target, unsigned codePage) {
    size_t n = CZipString::zslen(source);
    target.Allocate(unsigned(n));
    if (n) std::memcpy(target.GetBuffer(), source, n);
    if (codePage == cpOem) ZipPlatform::AnsiOem(target, true);
}

int SlashBackslashChg(CZipString& text, bool toBackslash) {
    return toBackslash ? text.Replace('/', '\\') : text.Replace('\\', '/');
}

void NormalizePathSeparators(CZipString& text) { SlashBackslashChg(text, false); }

}  // namespace ZipCompatibility
