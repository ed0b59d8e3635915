#pragma once
// A slow link for one test: the test runs again in a child process inside a
// private network namespace, whose loopback the test then shapes with `tc`
// (a rate, or a class that holds a port's traffic), so that the kernel
// refuses datagrams for a full send buffer as it does behind a slow link.
// Nothing outside the namespace is touched.
//
//   TEST(Suite, Name) {
//       SHAPED_LINK();                        // from here on in the child
//       UdpReceiver fast, slow;
//       shapedlink::Tc("qdisc add dev lo root tbf rate 10mbit burst 32kb limit 20mb");
//       ...
//   }
//
// Where namespaces or `tc` are refused, the test is skipped with the reason.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "namespace_child.h"

namespace shapedlink {

const char* const kChildVariable = "AISB_SHAPED_LINK_CHILD";

// Child: one `tc` command on the namespace's loopback; a refusal (no tc, a
// qdisc this kernel lacks) skips the test.
inline void Tc(const std::string& arguments) {
    const std::string command = "tc " + arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) return;
    fprintf(stderr, "shaped link: refused: %s\n", command.c_str());
    fflush(stderr);
    _exit(nschild::kSkipStatus);
}

using nschild::Role;

inline Role Enter() {
    if (getenv(kChildVariable) == nullptr) return nschild::RunChild(kChildVariable);
    nschild::Unshare(CLONE_NEWNET, "shaped link");
    nschild::LoopbackUp();
    return Role::kChild;
}

}  // namespace shapedlink

#define SHAPED_LINK()                                                                      \
    do {                                                                                   \
        const ::shapedlink::Role role_ = ::shapedlink::Enter();                            \
        if (role_ == ::shapedlink::Role::kSkipped)                                         \
            GTEST_SKIP() << "no private network namespace with tc here (see the output)";  \
        if (role_ == ::shapedlink::Role::kParentDone) return;                              \
    } while (0)
