#pragma once
// Stopping the program on a broken internal invariant, the one place that does it, so every such
// stop prints the same way. Any thread.

#include <string_view>

namespace remote {

// Writes "remote: fatal: {message}" to stderr and aborts.
[[noreturn]] void fatal(std::string_view message);

}  // namespace remote
