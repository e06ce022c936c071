#pragma once
// Start-up: the preview state names, the mode chosen from VORN_REMOTE_SAMPLE, and the two
// factories the launch record hands the platform. Called on the UI thread by the platform.

#include <array>
#include <memory>
#include <optional>
#include <string_view>

#include "app/remote_app.h"
#include "vorn/ui/app.h"

namespace remote {

// The named states the platform may start the window in, in the launch record's order.
inline constexpr std::array<std::string_view, 13> kPreviewStates = {
    "narrow",
    "narrow-open",
    "form",
    "form-vorn",
    "session-ssh",
    "session-vnc",
    "session-rdp",
    "session-vorn",
    "session-connecting",
    "session-failed",
    "confirm-connect",
    "confirm-delete",
    "confirm-ssh-trust",
};

enum class LaunchMode : std::uint8_t { Normal, Sample };

// Exactly "1" selects sample mode; any other value, or none, the normal mode.
[[nodiscard]] LaunchMode launch_mode(std::optional<std::string_view> sample_variable);
[[nodiscard]] LaunchMode launch_mode_from_environment();

// No profiles, no devices, no preview state.
[[nodiscard]] std::unique_ptr<RemoteApp> make_plain_app();
// The main factory's work for a given mode and preview state name (empty for none).
[[nodiscard]] std::unique_ptr<RemoteApp> make_app(LaunchMode mode, std::string_view preview);
// The main factory as the launch record holds it: reads the environment once.
[[nodiscard]] std::unique_ptr<vorn_ui::app::Application> main_factory(
    const vorn_ui::app::LaunchContext& context);

}  // namespace remote
