#pragma once
// A set of flag bits (open modes, storage state, add options).

namespace ZipLib {
class CBitFlag {
public:
    CBitFlag() = default;
    CBitFlag(int value) : m_value(value) {}
    CBitFlag& operator=(int value) { m_value = value; return *this; }

    void Set(int mask) { m_value |= mask; }
    void Clear(int mask) { m_value &= ~mask; }
    bool IsSetAny(int mask) const { return (m_value & mask) != 0; }
    bool IsSetAll(int mask) const { return (m_value & mask) == mask; }
    void Change(int mask, bool set) { if (set) Set(mask); else Clear(mask); }
    operator int() const { return m_value; }

    int m_value = 0;
};
}  // namespace ZipLib
