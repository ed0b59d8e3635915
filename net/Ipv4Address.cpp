#include "net/Ipv4Address.h"

#include <netdb.h>

#include <cstring>

#include "net/Utility.h"

namespace {
void clear(sockaddr_in& sa) {
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
}
}  // namespace

Ipv4Address::Ipv4Address(unsigned short port) : m_valid(true) {
    clear(m_addr);
    m_addr.sin_port = htons(port);
}

Ipv4Address::Ipv4Address(unsigned long address, unsigned short port) : m_valid(true) {
    clear(m_addr);
    m_addr.sin_port = htons(port);
    m_addr.sin_addr.s_addr = static_cast<in_addr_t>(address);
}

Ipv4Address::Ipv4Address(const in_addr& address, unsigned short port) : m_valid(true) {
    clear(m_addr);
    m_addr.sin_port = htons(port);
    m_addr.sin_addr = address;
}

Ipv4Address::Ipv4Address(const std::string& host, unsigned short port) {
    clear(m_addr);
    m_addr.sin_port = htons(port);
    unsigned long a = 0;
    if (Utility::u2ip(host, a)) {
        m_addr.sin_addr.s_addr = static_cast<in_addr_t>(a);
        m_valid = true;
    }
}

Ipv4Address::Ipv4Address(const sockaddr_in& sa) : m_addr(sa), m_valid(sa.sin_family == AF_INET) {}

Ipv4Address::operator sockaddr*() { return reinterpret_cast<sockaddr*>(&m_addr); }

Ipv4Address::operator unsigned int() { return sizeof m_addr; }

bool Ipv4Address::operator==(SocketAddress& other) {
    if (other.GetFamily() != GetFamily()) return false;
    if (static_cast<unsigned int>(other) != sizeof m_addr) return false;
    const sockaddr_in* o = reinterpret_cast<const sockaddr_in*>(static_cast<sockaddr*>(other));
    return o->sin_port == m_addr.sin_port &&
           memcmp(&o->sin_addr, &m_addr.sin_addr, sizeof m_addr.sin_addr) == 0;
}

void Ipv4Address::SetPort(unsigned short port) { m_addr.sin_port = htons(port); }

unsigned short Ipv4Address::GetPort() { return ntohs(m_addr.sin_port); }

void Ipv4Address::SetAddress(sockaddr* sa) { memcpy(&m_addr, sa, sizeof m_addr); }

std::string Ipv4Address::Convert(bool include_port) {
    std::string text = Convert(m_addr.sin_addr);
    if (include_port) text += ":" + Utility::l2string(GetPort());
    return text;
}

std::string Ipv4Address::Reverse() {
    std::string name;
    Reverse(m_addr.sin_addr, name);
    return name;
}

int Ipv4Address::GetFamily() { return m_addr.sin_family; }

bool Ipv4Address::IsValid() { return m_valid; }

std::unique_ptr<SocketAddress> Ipv4Address::GetCopy() { return std::make_unique<Ipv4Address>(m_addr); }

bool Ipv4Address::Resolve(const std::string& host, in_addr& a) {
    memset(&a, 0, sizeof a);
    sockaddr_in sa;
    if (!Utility::u2ip(host, sa, Utility::isipv4(host) ? AI_NUMERICHOST : 0)) return false;
    a = sa.sin_addr;
    return true;
}

bool Ipv4Address::Reverse(in_addr& a, std::string& name) {
    sockaddr_in sa;
    clear(sa);
    sa.sin_addr = a;
    return Utility::reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, name, 0);
}

std::string Ipv4Address::Convert(in_addr& a) {
    sockaddr_in sa;
    clear(sa);
    sa.sin_addr = a;
    std::string name;
    Utility::reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, name, NI_NUMERICHOST);
    return name;
}
