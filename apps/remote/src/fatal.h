#pragma once
// Stopping the program on a broken internal invariant, the one place that does it, so every such
// stop prints the same way. Header-only so that every module, however low, can use it. Any thread.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace remote {

// Writes "remote: fatal: {message}" to stderr and aborts.
[[noreturn]] inline void fatal(std::string_view message) {
    std::fprintf(stderr, "remote: fatal: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

}  // namespace remote
