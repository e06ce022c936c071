// The program: builds the launch record and hands it to the platform, which owns everything from
// there on (window, event loop, document, hooks).

#include <cstdint>
#include <memory>
#include <utility>

#include "app/startup.h"
#include "vorn/doc/persist.h"
#include "vorn/ui/launch.h"

namespace {

// The "remote.action" handler applies persisted profile changes to the connections document. It
// is registered here once the action payloads and the document schema are part of the build;
// until then nothing is registered and persisted changes stay in memory.
void register_remote_action_when_available(vorn_ui::app::App&) {}

}  // namespace

int main(int argc, char** argv) {
    vorn_ui::launch::LaunchRecord record;
    record.application_id = "dev.vorn.Remote";
    record.preview_states.assign(remote::kPreviewStates.begin(), remote::kPreviewStates.end());
    record.plain_factory = []() -> std::unique_ptr<vorn_ui::app::Application> {
        return remote::make_plain_app();
    };
    record.main_factory = remote::main_factory;
    record.register_actions = register_remote_action_when_available;
    record.default_window_size = [] { return std::pair<std::uint32_t, std::uint32_t>{1280, 800}; };
    record.persistence_opener = vorn_ui::persist::open;
    record.flags = {false, true, true};
    vorn_ui::launch::run_or_exit(std::move(record), argc, argv);
}
