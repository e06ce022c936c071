// The pin file is read from disk where anything may have written it: whatever it holds, the
// reader must return a value or a text, and what it accepts must save and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ssh/known_hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto hosts = remote::parse_known_hosts(text);
    if (!hosts) return 0;
    auto saved = remote::format_known_hosts(*hosts);
    if (!saved) std::abort();  // accepted text is valid UTF-8, so it always formats
    auto again = remote::parse_known_hosts(*saved);
    if (!again || *again != *hosts) std::abort();
    return 0;
}
