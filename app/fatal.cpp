#include "app/fatal.h"

#include <cstdio>
#include <cstdlib>

void FatalExit() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(255);
}
