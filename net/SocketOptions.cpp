// The socket option family of Socket: one setsockopt or getsockopt per member,
// failures logged at loglevel_fatal and never retried.

#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "net/Socket.h"

bool Socket::SetOpt(int level, int name, const void* value, socklen_t len, const char* label,
                    loglevel_t logLevel) {
    if (setsockopt(GetSocket(), level, name, value, len) == -1) {
        int err = errno;
        Handler().LogError(this, label, err, strerror(err), logLevel);
        return false;
    }
    return true;
}

bool Socket::SetIntOpt(int level, int name, int value, const char* label, loglevel_t logLevel) {
    return SetOpt(level, name, &value, sizeof value, label, logLevel);
}

int Socket::GetIntOpt(int level, int name, const char* label, loglevel_t logLevel) {
    int value = 0;
    socklen_t len = sizeof value;
    if (getsockopt(GetSocket(), level, name, &value, &len) == -1) {
        int err = errno;
        Handler().LogError(this, label, err, strerror(err), logLevel);
        return 0;
    }
    return value;
}

// --- IPPROTO_IP ---

bool Socket::SetIpOptions(const void* p, unsigned int len) {
    return SetOpt(IPPROTO_IP, IP_OPTIONS, p, len, "setsockopt(IPPROTO_IP, IP_OPTIONS)");
}

bool Socket::SetIpPktinfo(bool x) { return SetIntOpt(IPPROTO_IP, IP_PKTINFO, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_PKTINFO)"); }
bool Socket::SetIpRecvTOS(bool x) { return SetIntOpt(IPPROTO_IP, IP_RECVTOS, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_RECVTOS)"); }
bool Socket::SetIpRecvTTL(bool x) { return SetIntOpt(IPPROTO_IP, IP_RECVTTL, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_RECVTTL)"); }
bool Socket::SetIpRecvopts(bool x) { return SetIntOpt(IPPROTO_IP, IP_RECVOPTS, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_RECVOPTS)"); }
bool Socket::SetIpRetopts(bool x) { return SetIntOpt(IPPROTO_IP, IP_RETOPTS, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_RETOPTS)"); }

bool Socket::SetIpTOS(unsigned char tos) {
    return SetOpt(IPPROTO_IP, IP_TOS, &tos, sizeof tos, "setsockopt(IPPROTO_IP, IP_TOS)");
}

unsigned char Socket::IpTOS() {
    unsigned char tos = 0;
    socklen_t len = sizeof tos;
    if (getsockopt(GetSocket(), IPPROTO_IP, IP_TOS, &tos, &len) == -1) {
        int err = errno;
        Handler().LogError(this, "getsockopt(IPPROTO_IP, IP_TOS)", err, strerror(err), loglevel_fatal);
        return 0;
    }
    return tos;
}

bool Socket::SetIpTTL(int ttl) { return SetIntOpt(IPPROTO_IP, IP_TTL, ttl, "setsockopt(IPPROTO_IP, IP_TTL)"); }
int Socket::IpTTL() { return GetIntOpt(IPPROTO_IP, IP_TTL, "getsockopt(IPPROTO_IP, IP_TTL)"); }
bool Socket::SetIpHdrincl(bool x) { return SetIntOpt(IPPROTO_IP, IP_HDRINCL, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_HDRINCL)"); }
bool Socket::SetIpRecverr(bool x) { return SetIntOpt(IPPROTO_IP, IP_RECVERR, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_RECVERR)"); }
bool Socket::SetIpMtudiscover(bool x) {
    return SetIntOpt(IPPROTO_IP, IP_MTU_DISCOVER, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_MTU_DISCOVER)");
}
int Socket::IpMtu() { return GetIntOpt(IPPROTO_IP, IP_MTU, "getsockopt(IPPROTO_IP, IP_MTU)"); }
bool Socket::SetIpRouterAlert(bool x) {
    return SetIntOpt(IPPROTO_IP, IP_ROUTER_ALERT, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_ROUTER_ALERT)");
}
bool Socket::SetIpMulticastTTL(int ttl) {
    return SetIntOpt(IPPROTO_IP, IP_MULTICAST_TTL, ttl, "setsockopt(IPPROTO_IP, IP_MULTICAST_TTL)");
}
int Socket::IpMulticastTTL() { return GetIntOpt(IPPROTO_IP, IP_MULTICAST_TTL, "getsockopt(IPPROTO_IP, IP_MULTICAST_TTL)"); }
bool Socket::SetMulticastLoop(bool x) {
    return SetIntOpt(IPPROTO_IP, IP_MULTICAST_LOOP, x ? 1 : 0, "setsockopt(IPPROTO_IP, IP_MULTICAST_LOOP)");
}

bool Socket::IpAddMembership(ip_mreqn& ref) {
    return SetOpt(IPPROTO_IP, IP_ADD_MEMBERSHIP, &ref, sizeof ref, "setsockopt(IPPROTO_IP, IP_ADD_MEMBERSHIP)");
}
bool Socket::IpAddMembership(ip_mreq& ref) {
    return SetOpt(IPPROTO_IP, IP_ADD_MEMBERSHIP, &ref, sizeof ref, "setsockopt(IPPROTO_IP, IP_ADD_MEMBERSHIP)");
}
bool Socket::IpDropMembership(ip_mreqn& ref) {
    return SetOpt(IPPROTO_IP, IP_DROP_MEMBERSHIP, &ref, sizeof ref, "setsockopt(IPPROTO_IP, IP_DROP_MEMBERSHIP)");
}
bool Socket::IpDropMembership(ip_mreq& ref) {
    return SetOpt(IPPROTO_IP, IP_DROP_MEMBERSHIP, &ref, sizeof ref, "setsockopt(IPPROTO_IP, IP_DROP_MEMBERSHIP)");
}

// --- SOL_SOCKET ---

bool Socket::SetSoReuseaddr(bool x) { return SetIntOpt(SOL_SOCKET, SO_REUSEADDR, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_REUSEADDR)"); }
bool Socket::SetSoKeepalive(bool x) { return SetIntOpt(SOL_SOCKET, SO_KEEPALIVE, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_KEEPALIVE)"); }
bool Socket::SoAcceptconn() { return GetIntOpt(SOL_SOCKET, SO_ACCEPTCONN, "getsockopt(SOL_SOCKET, SO_ACCEPTCONN)") != 0; }
bool Socket::SetSoBsdcompat(bool x) { return SetIntOpt(SOL_SOCKET, SO_BSDCOMPAT, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_BSDCOMPAT)"); }

bool Socket::SetSoBindtodevice(const std::string& intf) {
    return SetOpt(SOL_SOCKET, SO_BINDTODEVICE, intf.data(), static_cast<socklen_t>(intf.size()),
                  "setsockopt(SOL_SOCKET, SO_BINDTODEVICE)");
}

bool Socket::SetSoBroadcast(bool x) { return SetIntOpt(SOL_SOCKET, SO_BROADCAST, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_BROADCAST)"); }
bool Socket::SetSoDebug(bool x) { return SetIntOpt(SOL_SOCKET, SO_DEBUG, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_DEBUG)"); }
int Socket::SoError() { return GetIntOpt(SOL_SOCKET, SO_ERROR, "getsockopt(SOL_SOCKET, SO_ERROR)"); }
bool Socket::SetSoDontroute(bool x) { return SetIntOpt(SOL_SOCKET, SO_DONTROUTE, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_DONTROUTE)"); }

bool Socket::SetSoLinger(int onoff, int linger) {
    struct linger l;
    l.l_onoff = onoff;
    l.l_linger = linger;
    return SetOpt(SOL_SOCKET, SO_LINGER, &l, sizeof l, "setsockopt(SOL_SOCKET, SO_LINGER)");
}

bool Socket::SetSoOobinline(bool x) { return SetIntOpt(SOL_SOCKET, SO_OOBINLINE, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_OOBINLINE)"); }
bool Socket::SetSoPasscred(bool x) { return SetIntOpt(SOL_SOCKET, SO_PASSCRED, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_PASSCRED)"); }

bool Socket::SoPeercred(ucred& ucr) {
    socklen_t len = sizeof ucr;
    if (getsockopt(GetSocket(), SOL_SOCKET, SO_PEERCRED, &ucr, &len) == -1) {
        int err = errno;
        Handler().LogError(this, "getsockopt(SOL_SOCKET, SO_PEERCRED)", err, strerror(err), loglevel_fatal);
        return false;
    }
    return true;
}

bool Socket::SetSoPriority(int x) { return SetIntOpt(SOL_SOCKET, SO_PRIORITY, x, "setsockopt(SOL_SOCKET, SO_PRIORITY)"); }
bool Socket::SetSoRcvlowat(int x) { return SetIntOpt(SOL_SOCKET, SO_RCVLOWAT, x, "setsockopt(SOL_SOCKET, SO_RCVLOWAT)"); }
bool Socket::SetSoSndlowat(int x) { return SetIntOpt(SOL_SOCKET, SO_SNDLOWAT, x, "setsockopt(SOL_SOCKET, SO_SNDLOWAT)"); }
bool Socket::SetSoRcvtimeo(timeval& tv) { return SetOpt(SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv, "setsockopt(SOL_SOCKET, SO_RCVTIMEO)"); }
bool Socket::SetSoSndtimeo(timeval& tv) { return SetOpt(SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv, "setsockopt(SOL_SOCKET, SO_SNDTIMEO)"); }
bool Socket::SetSoRcvbuf(int x) { return SetIntOpt(SOL_SOCKET, SO_RCVBUF, x, "setsockopt(SOL_SOCKET, SO_RCVBUF)"); }
int Socket::SoRcvbuf() { return GetIntOpt(SOL_SOCKET, SO_RCVBUF, "getsockopt(SOL_SOCKET, SO_RCVBUF)"); }
bool Socket::SetSoRcvbufforce(int x) { return SetIntOpt(SOL_SOCKET, SO_RCVBUFFORCE, x, "setsockopt(SOL_SOCKET, SO_RCVBUFFORCE)"); }
bool Socket::SetSoSndbuf(int x) { return SetIntOpt(SOL_SOCKET, SO_SNDBUF, x, "setsockopt(SOL_SOCKET, SO_SNDBUF)"); }
int Socket::SoSndbuf() { return GetIntOpt(SOL_SOCKET, SO_SNDBUF, "getsockopt(SOL_SOCKET, SO_SNDBUF)"); }
bool Socket::SetSoSndbufforce(int x) { return SetIntOpt(SOL_SOCKET, SO_SNDBUFFORCE, x, "setsockopt(SOL_SOCKET, SO_SNDBUFFORCE)"); }
bool Socket::SetSoTimestamp(bool x) { return SetIntOpt(SOL_SOCKET, SO_TIMESTAMP, x ? 1 : 0, "setsockopt(SOL_SOCKET, SO_TIMESTAMP)"); }
int Socket::SoType() { return GetIntOpt(SOL_SOCKET, SO_TYPE, "getsockopt(SOL_SOCKET, SO_TYPE)"); }
