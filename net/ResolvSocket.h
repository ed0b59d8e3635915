#pragma once
// One resolver request, on either end of its loopback connection, in line
// mode. Client end (in the requesting handler): sends "gethostbyname <host>"
// or "gethostbyaddr <dotted address>" and hands the answer to the
// requesting socket (OnResolved, OnReverseResolved or OnResolveFailed) as
// long as that socket is still alive. Server end (accepted by the
// ResolvServer): answers from the cache, or detaches into a thread of its
// own for the blocking look-up. The request line is split at its first
// space: the query word before it, the query data after it, whole. Replies
// are one or two lines and an empty one; "Failed" (or "Failed: <reason>")
// for anything that cannot be answered, malformed requests included (data
// that is no host text, Utility::isHostText, is never looked up);
// "Unknown" for another query word. The client takes the first reply line
// after "Cached" as the answer, and only "A: " with four decimal numbers
// (forward), "Name: " with a host text (reverse), or "Failed"/"Failed: ..."
// as one; anything else fails the request. Only answers the server sent
// are cached: a connection that ends without one, or with a malformed
// one, fails the request and stores nothing.
//
// The answers live in a process-wide cache: found ones for an hour,
// failures for a minute, at most kCacheMax of them (the expired, then the
// oldest, make room).

#include <cstddef>
#include <ctime>
#include <string>

#include "net/TcpSocket.h"

class ResolvSocket : public TcpSocket {
public:
    static constexpr time_t kAnswerTtl = 3600;
    static constexpr time_t kFailureTtl = 60;
    static constexpr size_t kCacheMax = 4096;
    // A server connection that sends no query within this time is closed.
    static constexpr long kServerIdle = 30;

    explicit ResolvSocket(ISocketHandler& h);  // server end
    ResolvSocket(ISocketHandler& h, Socket* p, const std::string& host, unsigned short port, bool ipv6 = false);
    ResolvSocket(ISocketHandler& h, Socket* p, unsigned long address);
    ~ResolvSocket() override;

    void OnDelete() override;
    void OnConnect() override;
    void OnAccept() override;
    void OnLine(const std::string& line) override;
    void OnDetached() override;
    void OnTimeout() override;

    void SetId(int id);
    int GetId() const;
    // Client end: sent to the server; its handler counts it until it goes.
    void SetInFlight();
    // Client end: false for a name that is no host text; such a request is
    // never sent (its line would end at a CR, LF or NUL and be answered for
    // the name's first part) and fails without an answer, caching nothing.
    bool Askable() const;

    // The cache, by query word and query data; an empty answer is a failure.
    static bool CacheGet(const std::string& word, const std::string& data, std::string& answer);
    static void CachePut(const std::string& word, const std::string& data, const std::string& answer);
    static size_t CacheSize();
    static void ClearCache();

private:
    // The requesting socket is still alive and waits in its handler.
    bool Known();
    // The requesting socket has had its answer (or its failure).
    void Answered();
    void Reply(const std::string& text);
    void Store(const std::string& answer);

    std::string m_query;  // "gethostbyname" / "gethostbyaddr", or the word received
    std::string m_data;
    bool m_server = false;
    bool m_asked = false;  // server end: a query line has come
    Socket* m_parent_socket = nullptr;
    unsigned long m_parent_uid = 0;
    int m_resolv_id = 0;
    std::string m_resolv_host;
    unsigned short m_resolv_port = 0;
    unsigned long m_resolv_address = 0;
    // A reverse request; an empty host is a forward one, never sent.
    bool m_reverse = false;
    bool m_cached = false;
    bool m_in_flight = false;
};
