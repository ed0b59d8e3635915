// The input ring of TcpSocket. Its storage is twice the capacity: a stretch
// that wraps past the end is also kept right after the first half, so the
// bytes held always read as one piece from GetStart().

#include <cstring>
#include <vector>

#include "net/TcpSocket.h"

TcpSocket::CircularBuffer::CircularBuffer(size_t capacity)
    : m_storage(new char[2 * capacity + 1]), m_max(capacity) {}

TcpSocket::CircularBuffer::~CircularBuffer() = default;

bool TcpSocket::CircularBuffer::Write(const char* p, size_t n) {
    if (n > m_max - m_q) return false;
    if (n == 0) return true;
    char* s = m_storage.get();
    m_count += n;
    // The first copy runs into the mirror half when it passes the end.
    memcpy(s + m_t, p, n);
    if (m_t + n > m_max) {
        size_t wrapped = m_t + n - m_max;
        memcpy(s, p + (n - wrapped), wrapped);
        m_t = wrapped;
    } else {
        memcpy(s + m_max + m_t, p, n);
        m_t += n;
        if (m_t == m_max) m_t = 0;
    }
    m_q += n;
    return true;
}

bool TcpSocket::CircularBuffer::Read(char* dest, size_t n) {
    if (n > m_q) return false;
    if (n == 0) return true;
    const char* s = m_storage.get();
    if (m_b + n > m_max) {
        size_t first = m_max - m_b;
        if (dest != nullptr) {
            memcpy(dest, s + m_b, first);
            memcpy(dest + first, s, n - first);
        }
        m_b = n - first;
    } else {
        if (dest != nullptr) memcpy(dest, s + m_b, n);
        m_b += n;
        if (m_b == m_max) m_b = 0;
    }
    m_q -= n;
    if (m_q == 0) m_b = m_t = 0;
    return true;
}

bool TcpSocket::CircularBuffer::Remove(size_t n) { return Read(nullptr, n); }

std::string TcpSocket::CircularBuffer::ReadString(size_t n) {
    if (n > m_q) return std::string();
    std::vector<char> tmp(n + 1, '\0');
    Read(tmp.data(), n);
    return std::string(tmp.data());  // up to the first NUL
}

size_t TcpSocket::CircularBuffer::GetLength() const { return m_q; }
const char* TcpSocket::CircularBuffer::GetStart() const { return m_storage.get() + m_b; }
size_t TcpSocket::CircularBuffer::GetL() const { return m_b + m_q > m_max ? m_max - m_b : m_q; }
size_t TcpSocket::CircularBuffer::Space() const { return m_max - m_q; }

size_t TcpSocket::CircularBuffer::ByteCounter(bool clear) {
    size_t n = m_count;
    if (clear) m_count = 0;
    return n;
}
