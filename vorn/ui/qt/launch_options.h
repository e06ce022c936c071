#pragma once
// The platform's command line (--preview NAME, --screenshot FILE, --size WxH)
// and the launch itself as a function that returns the exit status, so the
// whole start-up path can be exercised in tests. UI thread only.

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "vorn/ui/launch.h"

namespace vorn_ui::launch {

struct Options {
    std::string preview;
    std::optional<std::string> screenshot;
    std::optional<std::pair<int, int>> size;
    std::vector<std::string> passthrough;  // single-dash toolkit options, left to Qt
};

// `args` excludes the program name. The error is one sentence for the user.
[[nodiscard]] std::expected<Options, std::string> parse_options(
    const std::vector<std::string>& args);

// What run_or_exit does, returning the exit status instead of exiting.
int run(LaunchRecord record, int argc, char** argv);

}  // namespace vorn_ui::launch
