#pragma once
// The same end-to-end measurements taken with libvncclient, as a yardstick (Raw, CopyRect and
// RRE only, like our client). Kept in its own file so the library's C macros stay there.

#include <cstdint>

namespace remote::bench {

struct EndToEnd {
    double connect_to_first_picture_ms = 0;
    double updates_per_second = 0;
    bool ok = false;
};

EndToEnd libvncclient_run(std::uint16_t port, double seconds);

}  // namespace remote::bench
