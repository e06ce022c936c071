#include "app/startup.h"

#include <cstdlib>
#include <vector>

#include "doc/sample_machines.h"

namespace remote {
namespace {

std::vector<DeviceSuggestion> sample_suggestions() {
    std::vector<DeviceSuggestion> out;
    for (SampleDevice& device : sample_devices()) {
        out.push_back({std::move(device.name), std::move(device.endpoint), device.online});
    }
    return out;
}

// "narrow" and "narrow-open" only ask the next layout to place the drawer; they are honoured in
// both modes.
void apply_drawer_preview(RemoteApp& app, std::string_view preview) {
    if (preview == "narrow") app.preview_drawer = PreviewDrawer::Closed;
    if (preview == "narrow-open") app.preview_drawer = PreviewDrawer::Open;
}

}  // namespace

LaunchMode launch_mode(std::optional<std::string_view> sample_variable) {
    return sample_variable == "1" ? LaunchMode::Sample : LaunchMode::Normal;
}

LaunchMode launch_mode_from_environment() {
    const char* value = std::getenv("VORN_REMOTE_SAMPLE");
    return launch_mode(value ? std::optional<std::string_view>(value) : std::nullopt);
}

std::unique_ptr<RemoteApp> make_plain_app() {
    return std::make_unique<RemoteApp>(std::vector<ConnectionProfile>{},
                                       std::vector<DeviceSuggestion>{});
}

std::unique_ptr<RemoteApp> make_app(LaunchMode mode, std::string_view preview) {
    if (mode == LaunchMode::Normal) {
        auto app = make_plain_app();
        apply_drawer_preview(*app, preview);  // every other preview name is ignored here
        return app;
    }
    auto app = std::make_unique<RemoteApp>(sample_profiles(), sample_suggestions());
    apply_drawer_preview(*app, preview);
    // The other preview states act through the message dispatcher, which is not part of the
    // build yet; until it is they are ignored like unknown names.
    return app;
}

std::unique_ptr<vorn_ui::app::Application> main_factory(
    const vorn_ui::app::LaunchContext& context) {
    return make_app(launch_mode_from_environment(), context.preview);
}

}  // namespace remote
