#include "vorn/ui/app.h"

#include "vorn/actions/registry.h"
#include "vorn/actions/resource.h"

namespace vorn_ui::app {

std::vector<vorn_actions::Resource> Application::resources() { return {}; }

App::App(std::unique_ptr<Application> application)
    : application_(std::move(application)), registry_(std::make_unique<vorn_actions::ActionRegistry>()) {}

App::~App() = default;

vorn_actions::ActionRegistry& App::action_registry_mut() { return *registry_; }

}  // namespace vorn_ui::app
