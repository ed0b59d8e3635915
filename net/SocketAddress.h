#pragma once
// Abstract socket address. Sockets hold their addresses through this
// interface and own them; Ipv4Address is the only implementation.

#include <sys/socket.h>

#include <memory>
#include <string>

class SocketAddress {
public:
    virtual ~SocketAddress() = default;

    virtual operator sockaddr*() = 0;       // the stored address
    virtual operator unsigned int() = 0;    // its length (socklen_t)
    virtual bool operator==(SocketAddress& other) = 0;
    virtual void SetPort(unsigned short port) = 0;  // host byte order
    virtual unsigned short GetPort() = 0;           // host byte order
    virtual void SetAddress(sockaddr* sa) = 0;
    virtual std::string Convert(bool include_port) = 0;
    virtual std::string Reverse() = 0;  // host name, empty when unknown
    virtual int GetFamily() = 0;
    virtual bool IsValid() = 0;
    virtual std::unique_ptr<SocketAddress> GetCopy() = 0;  // a new copy, owned by the caller
};
