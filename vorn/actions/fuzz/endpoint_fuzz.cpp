// Request lines come from any process of the user's: every line must get one JSON response,
// and an action marked unavailable must never run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vorn/actions/endpoint.h"

namespace {

class Host : public vorn_actions::endpoint::ControlHost {
  public:
    std::vector<vorn_actions::Resource> resources() override {
        using namespace vorn_actions;
        std::vector<Resource> tree;
        tree.push_back(
            Resource("r", "k", "Root")
                .with_action(ActionSpec("a", "A", EncodedAction{"t", "a"}))
                .with_action(ActionSpec("d", "D", EncodedAction{"t", "d"}).destructive())
                .with_action(ActionSpec("u", "U", EncodedAction{"t", "u"}).unavailable("x", "y"))
                .with_child(
                    Resource("c", "k", "Child")
                        .with_action(
                            ActionSpec(
                                "p", "P", "t",
                                [](const ActionArgs& args)
                                    -> std::expected<EncodedAction, std::string> {
                                    return EncodedAction{"t", args.text("value").value_or("")};
                                })
                                .with_param(ParamSpec::text("value")))));
        return tree;
    }
    std::expected<nlohmann::json, std::string> run(const vorn_actions::ActionSpec& action,
                                                   const vorn_actions::EncodedAction&) override {
        if (action.unavailability()) std::abort();
        return nlohmann::json{{"outcome", "done"}};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Host host;
    std::string_view line(reinterpret_cast<const char*>(data), size);
    auto response =
        nlohmann::json::parse(vorn_actions::endpoint::handle_request(host, line), nullptr, false);
    if (response.is_discarded() || !response.is_object() || !response.contains("ok")) std::abort();
    return 0;
}
