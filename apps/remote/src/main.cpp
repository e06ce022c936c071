// The program: builds the launch record and hands it to the platform, which owns everything from
// there on (window, event loop, document, hooks).

#include <cstdint>
#include <memory>
#include <utility>

#include "app/startup.h"
#include "doc/connections.h"
#include "fatal.h"
#include "vorn/actions/registry.h"
#include "vorn/doc/persist.h"
#include "vorn/ui/launch.h"

namespace {

// Persisted profile changes reach the connections document through this handler.
void register_remote_action(vorn_ui::app::App& app) {
    auto registered =
        app.action_registry_mut().register_handler("remote.action", remote::handle_remote_action);
    if (!registered) remote::fatal("registering remote.action never fails");
}

}  // namespace

int main(int argc, char** argv) {
    vorn_ui::launch::LaunchRecord record;
    record.application_id = "dev.vorn.Remote";
    record.preview_states.assign(remote::kPreviewStates.begin(), remote::kPreviewStates.end());
    record.plain_factory = []() -> std::unique_ptr<vorn_ui::app::Application> {
        return remote::make_plain_app();
    };
    record.main_factory = remote::main_factory;
    record.register_actions = register_remote_action;
    record.default_window_size = [] { return std::pair<std::uint32_t, std::uint32_t>{1280, 800}; };
    record.persistence_opener = vorn_ui::persist::open;
    record.flags = {false, true, true};
    vorn_ui::launch::run_or_exit(std::move(record), argc, argv);
}
