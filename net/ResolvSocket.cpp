#include "net/ResolvSocket.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <map>
#include <mutex>
#include <utility>

#include "net/SocketHandler.h"
#include "net/Utility.h"

namespace {

const char* const kByName = "gethostbyname";
const char* const kByAddr = "gethostbyaddr";

struct CacheEntry {
    std::string answer;
    time_t stored;
};

struct Cache {
    std::mutex mutex;
    std::map<std::pair<std::string, std::string>, CacheEntry> entries;
};

Cache& TheCache() {
    static Cache cache;
    return cache;
}

// Four decimal numbers, as Utility::l2ip writes an address: the one form
// in which the client sends an address to reverse and the server answers.
bool readDottedQuad(const std::string& s, in_addr& a) {
    return s.find('\0') == std::string::npos && inet_pton(AF_INET, s.c_str(), &a) == 1;
}

bool isDottedQuad(const std::string& s) {
    in_addr a;
    return readDottedQuad(s, a);
}

// The rest of `line` after `prefix`, when it starts with it.
bool after(const std::string& line, const std::string& prefix, std::string& rest) {
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    rest = line.substr(prefix.size());
    return true;
}

bool Expired(const CacheEntry& e, time_t now) {
    const time_t ttl = e.answer.empty() ? ResolvSocket::kFailureTtl : ResolvSocket::kAnswerTtl;
    return now - e.stored >= ttl;
}

}  // namespace

ResolvSocket::ResolvSocket(ISocketHandler& h) : TcpSocket(h) { SetLineProtocol(true); }

ResolvSocket::ResolvSocket(ISocketHandler& h, Socket* p, const std::string& host, unsigned short port, bool)
    : TcpSocket(h),
      m_parent_socket(p),
      m_parent_uid(p != nullptr ? p->UniqueIdentifier() : 0),
      m_resolv_host(host),
      m_resolv_port(port) {
    SetLineProtocol(true);
}

ResolvSocket::ResolvSocket(ISocketHandler& h, Socket* p, unsigned long address)
    : TcpSocket(h),
      m_parent_socket(p),
      m_parent_uid(p != nullptr ? p->UniqueIdentifier() : 0),
      m_resolv_address(address),
      m_reverse(true) {
    SetLineProtocol(true);
}

ResolvSocket::~ResolvSocket() {
    if (!m_in_flight) return;
    if (SocketHandler* h = dynamic_cast<SocketHandler*>(&Handler())) h->RequestEnded();
}

void ResolvSocket::SetId(int id) { m_resolv_id = id; }
void ResolvSocket::SetInFlight() { m_in_flight = true; }
int ResolvSocket::GetId() const { return m_resolv_id; }
bool ResolvSocket::Askable() const { return m_reverse || Utility::isHostText(m_resolv_host); }

// --- Cache ---

bool ResolvSocket::CacheGet(const std::string& word, const std::string& data, std::string& answer) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> guard(c.mutex);
    auto it = c.entries.find({word, data});
    if (it == c.entries.end() || Expired(it->second, Utility::Now())) return false;
    answer = it->second.answer;
    return true;
}

void ResolvSocket::CachePut(const std::string& word, const std::string& data, const std::string& answer) {
    Cache& c = TheCache();
    const time_t now = Utility::Now();
    std::lock_guard<std::mutex> guard(c.mutex);
    auto key = std::make_pair(word, data);
    if (c.entries.size() >= kCacheMax && c.entries.count(key) == 0) {
        for (auto it = c.entries.begin(); it != c.entries.end();)
            it = Expired(it->second, now) ? c.entries.erase(it) : std::next(it);
        if (c.entries.size() >= kCacheMax) {
            auto oldest = c.entries.begin();
            for (auto it = c.entries.begin(); it != c.entries.end(); ++it)
                if (it->second.stored < oldest->second.stored) oldest = it;
            c.entries.erase(oldest);
        }
    }
    c.entries[key] = CacheEntry{answer, now};
}

size_t ResolvSocket::CacheSize() {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> guard(c.mutex);
    return c.entries.size();
}

void ResolvSocket::ClearCache() {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> guard(c.mutex);
    c.entries.clear();
}

// --- Client end ---

void ResolvSocket::OnConnect() {
    if (m_server) return;
    if (!m_reverse) {
        m_query = kByName;
        m_data = m_resolv_host;
    } else {
        m_query = kByAddr;
        Utility::l2ip(m_resolv_address, m_data);
    }
    Send(m_query + " " + m_data + "\n");
}

bool ResolvSocket::Known() {
    if (m_parent_socket == nullptr) return false;
    if (SocketHandler* h = dynamic_cast<SocketHandler*>(&Handler()))
        if (h->Resolving(m_parent_uid)) return true;
    return Handler().Valid(m_parent_uid);
}

void ResolvSocket::Answered() {
    m_parent_socket = nullptr;
    if (SocketHandler* h = dynamic_cast<SocketHandler*>(&Handler())) h->ResolveEnded(m_parent_uid);
}

void ResolvSocket::Store(const std::string& answer) {
    if (!m_cached && !m_query.empty()) CachePut(m_query, m_data, answer);
}

void ResolvSocket::OnDelete() {
    if (m_server || m_parent_socket == nullptr) return;
    // The connection ended without an answer: the request failed, but no
    // answer came from the server, so nothing is cached (the server end may
    // have dropped it for lack of a descriptor, or never been there).
    if (Known()) m_parent_socket->OnResolveFailed(m_resolv_id);
    Answered();
}

// --- Both ends ---

void ResolvSocket::OnLine(const std::string& line) {
    if (m_server) {
        if (m_asked) return;  // one query per connection
        m_asked = true;
        SetTimeout(0);
        // The data is all after the first space: a name such as "::1" is
        // looked up as it is, never with its colons or blanks dropped.
        const size_t space = line.find(' ');
        m_query = line.substr(0, space);
        m_data = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (m_query.empty()) {
            Reply("Failed\n\n");  // no query at all
            return;
        }
        if (m_query != kByName && m_query != kByAddr) {
            Handler().LogError(this, "OnLine", 0, "Unknown query type: " + m_query, loglevel_warning);
            Reply("Unknown\n\n");
            return;
        }
        if (!Utility::isHostText(m_data)) {
            Reply("Failed\n\n");
            return;
        }
        if (m_query == kByAddr && !isDottedQuad(m_data)) {
            Reply("Failed: malformed address\n\n");  // no thread for that
            return;
        }
        std::string answer;
        if (CacheGet(m_query, m_data, answer)) {
            if (answer.empty())
                Reply("Cached\nFailed\n\n");
            else
                Reply(std::string("Cached\n") + (m_query == kByName ? "A: " : "Name: ") + answer + "\n\n");
            return;
        }
        if (!Detach()) SetCloseAndDelete();
        return;
    }
    // Client end: the first line, after "Cached", is the answer. Only a
    // well-formed one is reported and stored; anything else fails the
    // request and stores nothing.
    if (m_parent_socket == nullptr) return;  // answered already
    if (line == "Cached" && !m_cached) {
        m_cached = true;
        return;
    }
    std::string value;
    in_addr a;
    if (line == "Failed" || after(line, "Failed:", value)) {
        if (Known()) m_parent_socket->OnResolveFailed(m_resolv_id);
        Store("");
    } else if (!m_reverse && after(line, "A: ", value) && readDottedQuad(value, a)) {
        if (Known()) m_parent_socket->OnResolved(m_resolv_id, a.s_addr, m_resolv_port);
        Store(value);
    } else if (m_reverse && after(line, "Name: ", value) && Utility::isHostText(value)) {
        if (Known()) m_parent_socket->OnReverseResolved(m_resolv_id, value);
        Store(value);
    } else {
        if (Known()) m_parent_socket->OnResolveFailed(m_resolv_id);
    }
    Answered();
}

// --- Server end ---

void ResolvSocket::OnAccept() {
    m_server = true;
    SetTimeout(kServerIdle);
}

void ResolvSocket::OnTimeout() {
    if (m_server) SetCloseAndDelete();
}

void ResolvSocket::Reply(const std::string& text) {
    Send(text);
    SetCloseAndDelete();
}

void ResolvSocket::OnDetached() {
    std::string reply;
    if (m_query == kByName) {
        sockaddr_in sa;
        if (Utility::u2ip(m_data, sa, 0)) {
            std::string dotted;
            Utility::l2ip(sa.sin_addr, dotted);
            reply = "A: " + dotted + "\n";
        } else {
            reply = "Failed\n";
        }
    } else if (m_query == kByAddr) {
        sockaddr_in sa;
        std::string name;
        if (!isDottedQuad(m_data)) {
            reply = "Failed: malformed address\n";
        } else if (!Utility::u2ip(m_data, sa, AI_NUMERICHOST)) {
            reply = "Failed: convert to sockaddr_in failed\n";
        } else if (Utility::reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, name, 0)) {
            reply = "Name: " + name + "\n";
        } else {
            reply = "Failed: ipv4 reverse lookup of " + m_data + "\n";
        }
    } else {
        Handler().LogError(this, "OnDetached", 0, "Unknown query type: " + m_query, loglevel_warning);
        reply = "Unknown\n";
    }
    Reply(reply + "\n");
}
