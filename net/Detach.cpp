// Detaching a socket into a thread and event loop of its own: NOT DONE YET.
// Until the socket threads exist every detach request is refused, and the
// loop's detach check only clears its flag, so a socket always stays with
// its handler.

#include "net/Socket.h"
#include "net/SocketHandler.h"

bool Socket::Detach() {
    if (!DeleteByHandler() || m_pThread != nullptr || m_detached) return false;
    Handler().LogError(this, "Detach", 0, "detaching not available yet", loglevel_warning);
    return false;
}

void Socket::DetachSocket() {
    Handler().LogError(this, "DetachSocket", 0, "detaching not available yet", loglevel_fatal);
}

void SocketHandler::CheckDetach() { m_b_check_detach = false; }
