#pragma once
// IPv4 socket address. Numeric addresses are `unsigned long` values holding
// the address in network byte order in their low 32 bits; ports are in host
// byte order at the interface.

#include <netinet/in.h>

#include <string>

#include "net/SocketAddress.h"

class Ipv4Address : public SocketAddress {
public:
    explicit Ipv4Address(unsigned short port = 0);  // any-address, valid
    Ipv4Address(unsigned long address, unsigned short port);  // valid, never resolves
    Ipv4Address(const in_addr& address, unsigned short port);  // valid
    // Resolves `host` now (blocking for a name); not valid, address 0, when
    // it doesn't resolve.
    Ipv4Address(const std::string& host, unsigned short port);
    explicit Ipv4Address(const sockaddr_in& sa);  // valid when the family is AF_INET

    operator sockaddr*() override;
    operator unsigned int() override;  // 16
    // Family, length, port and address bytes; the valid flags are not compared.
    bool operator==(SocketAddress& other) override;
    void SetPort(unsigned short port) override;
    unsigned short GetPort() override;
    void SetAddress(sockaddr* sa) override;  // copies 16 bytes; validity unchanged
    std::string Convert(bool include_port) override;  // "a.b.c.d" or "a.b.c.d:port"
    std::string Reverse() override;
    int GetFamily() override;
    bool IsValid() override;
    std::unique_ptr<SocketAddress> GetCopy() override;

    // `a` becomes the address of `host` (0 when it doesn't resolve).
    static bool Resolve(const std::string& host, in_addr& a);
    static bool Reverse(in_addr& a, std::string& name);
    static std::string Convert(in_addr& a);

private:
    sockaddr_in m_addr;
    bool m_valid = false;
};
