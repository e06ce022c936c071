#pragma once
// Starting an application on the platform: the launch record and run_or_exit,
// which opens the window, runs the event loop on the calling (UI) thread and
// drives the application hooks. Command line: --preview NAME selects a
// preview state; --screenshot FILE renders one frame offscreen to a PNG and
// exits; --size WxH sets the window size.

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vorn/ui/app.h"

namespace vorn_ui::persist {
class DocumentStore;
}

namespace vorn_ui::launch {

struct LaunchRecord {
    std::string application_id;
    std::array<std::vector<std::string>, 4> list_settings;
    std::vector<std::string> preview_states;
    std::function<std::unique_ptr<app::Application>()> plain_factory;
    std::function<std::unique_ptr<app::Application>(const app::LaunchContext&)> main_factory;
    std::function<void(app::App&)> register_actions;
    std::function<std::pair<std::uint32_t, std::uint32_t>()> default_window_size;
    std::function<std::expected<std::unique_ptr<persist::DocumentStore>, std::string>()> persistence_opener;
    std::array<bool, 3> flags{false, true, true};
};

// Never returns: exits with the event loop's status, or with status 1 and one
// clear sentence on stderr when the platform cannot start (no display, bad
// arguments, screenshot failure).
[[noreturn]] void run_or_exit(LaunchRecord record, int argc, char** argv);

}  // namespace vorn_ui::launch
