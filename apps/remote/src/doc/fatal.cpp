#include "doc/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace remote {

void fatal(std::string_view message) {
    std::fprintf(stderr, "remote: fatal: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

}  // namespace remote
