#pragma once
// Log sink of the socket library. The library has no implementation of its
// own: a handler without a registered sink drops every message.

#include <string>

class ISocketHandler;
class Socket;

typedef enum {
    loglevel_info = 0,
    loglevel_warning = 1,
    loglevel_error = 2,
    loglevel_fatal = 3,
} loglevel_t;

class StdLog {
public:
    virtual ~StdLog() = default;
    // One message: the handler, the socket concerned (null for the loop's own
    // messages, and possibly a socket in its destructor), the call or step
    // label, an error number or count, a text and a level.
    virtual void Report(ISocketHandler* handler, Socket* socket, const std::string& label, int code,
                        const std::string& text, loglevel_t level) = 0;
};
