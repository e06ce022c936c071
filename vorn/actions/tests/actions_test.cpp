#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "vorn/actions/context.h"
#include "vorn/actions/executor.h"
#include "vorn/actions/params.h"
#include "vorn/actions/registry.h"
#include "vorn/actions/resource.h"
#include "vorn/doc/document.h"

namespace vorn_actions {
namespace {

using vorn_ui::doc::Document;
using vorn_ui::doc::ObjId;

TEST(HumanizeIdentifierTest, ReadsCodeNamesAsPhrases) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"TrustSshHostKey", "Trust ssh host key"},
        {"ShowConnections", "Show connections"},
        {"trust_ssh_host_key", "Trust ssh host key"},
        {"send-text", "Send text"},
        {"remote.action", "Remote action"},
        {"SSHKey", "Ssh key"},
        {"HTTP2Server", "Http2 server"},
        {"sendText", "Send text"},
        {"Connect", "Connect"},
        {"__x__", "X"},
        {"", ""},
    };
    for (const auto& [identifier, phrase] : cases) {
        EXPECT_EQ(context::humanize_identifier(identifier), phrase) << identifier;
    }
}

TEST(ActionContextTest, EnrichedByFillsOnlyGaps) {
    ActionContext own;
    own.summary = "Rename connection";
    own.source = ActionSource{"org.example.remote", "Remote"};
    own.attributes = {{"surface", "list"}};
    ActionContext caller;
    caller.summary = "Something else";
    caller.requested_by = "assistant";
    caller.correlation_id = "42";
    caller.attributes = {{"surface", "palette"}, {"locale", "en"}};

    ActionContext merged = own.enriched_by(caller);
    EXPECT_EQ(merged.summary, "Rename connection");
    EXPECT_EQ(merged.source, own.source);
    EXPECT_EQ(merged.requested_by, "assistant");
    EXPECT_EQ(merged.correlation_id, "42");
    EXPECT_EQ(merged.attributes, (std::vector<std::pair<std::string, std::string>>{
                                     {"surface", "list"}, {"locale", "en"}}));
    EXPECT_EQ(ActionContext{}.enriched_by(own), own);
}

TEST(ActionArgsTest, TextIsPresentOnlyForStrings) {
    auto args = ActionArgs::from_json(nlohmann::json{{"value", "Lab"}, {"count", 3}});
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(args->text("value"), "Lab");
    EXPECT_EQ(args->text("count"), std::nullopt);
    EXPECT_EQ(args->text("missing"), std::nullopt);
    EXPECT_TRUE(ActionArgs::from_json(nullptr).has_value());
    EXPECT_FALSE(ActionArgs::from_json(nlohmann::json::array({"Lab"})).has_value());
}

EncodedAction echo_value(const ActionArgs& args) {
    return EncodedAction{"remote.action", args.text("value").value_or("")};
}

TEST(ActionSpecTest, InvokeChecksArgumentsAndDeclaredType) {
    const ActionSpec rename =
        ActionSpec("rename", "Rename connection", "remote.action",
                   [](const ActionArgs& a) -> std::expected<EncodedAction, std::string> {
                       return echo_value(a);
                   })
            .with_param(ParamSpec::text("value").labelled("New name").with_hint("connection name"));

    EXPECT_EQ(rename.invoke(ActionArgs{}).value().payload, "");
    EXPECT_EQ(rename.invoke(ActionArgs().set("value", "Lab")).value().payload, "Lab");
    EXPECT_EQ(rename.invoke(ActionArgs().set("value", 5)).error(),
              "parameter `value` must be text");
    EXPECT_EQ(rename.invoke(ActionArgs().set("name", "x")).error(), "unknown parameter `name`");

    params::ParamSpec required = ParamSpec::text("text");
    required.required = true;
    const ActionSpec send =
        ActionSpec("send", "Send", "remote.operation",
                   [](const ActionArgs&) -> std::expected<EncodedAction, std::string> {
                       return EncodedAction{"remote.action", "{}"};
                   })
            .with_param(required);
    EXPECT_EQ(send.invoke(ActionArgs{}).error(), "missing parameter `text`");
    EXPECT_EQ(send.invoke(ActionArgs().set("text", "ls")).error(),
              "action produced type `remote.action` but declares `remote.operation`");
    EXPECT_TRUE(enforce_operation_type(EncodedAction{"remote.operation", ""}, "remote.operation"));
}

TEST(ActionSpecTest, KeepsMarksAndFixedActions) {
    const ActionSpec connect =
        ActionSpec("connect", "Connect", EncodedAction{"remote.operation", R"({"Connect":{}})"})
            .with_description("Open a live session.")
            .with_contract({"network", "session"})
            .with_contract({"session", "ssh"})
            .unavailable("live_session_capability_required", "Live sessions are off.");
    EXPECT_EQ(connect.action_type(), "remote.operation");
    EXPECT_EQ(connect.contract_tags(), (std::vector<std::string>{"network", "session", "ssh"}));
    EXPECT_EQ(connect.action_class(), ActionClass::Effect);
    EXPECT_FALSE(connect.is_destructive());
    ASSERT_TRUE(connect.unavailability().has_value());
    EXPECT_EQ(connect.unavailability()->reason_code, "live_session_capability_required");
    // Unavailable actions are still listed and still build; offering them is the caller's call.
    EXPECT_EQ(connect.invoke(ActionArgs{}).value().payload, R"({"Connect":{}})");

    const ActionSpec del =
        ActionSpec("delete", "Delete", EncodedAction{"remote.action", "x"}).destructive();
    EXPECT_TRUE(del.is_destructive());
    EXPECT_EQ(ActionSpec("open", "Show", EncodedAction{"remote.operation", "x"})
                  .with_class(ActionClass::View)
                  .action_class(),
              ActionClass::View);
}

TEST(ResourceTest, KeepsActionAndChildOrderAndFindsDeepResources) {
    std::vector<Resource> roots;
    roots.push_back(
        Resource("remote.connections", "remote.connection-list", "Remote connections")
            .with_action(ActionSpec("open", "Show connections", EncodedAction{"t", "1"}))
            .with_action(ActionSpec("new", "New connection", EncodedAction{"t", "2"}))
            .with_children({Resource("remote.connection:a", "remote.connection", "A"),
                            Resource("remote.connection:b", "remote.connection", "B")
                                .with_child(Resource("deep", "k", "Deep"))}));
    const Resource& root = roots[0];
    ASSERT_EQ(root.actions().size(), 2u);
    EXPECT_EQ(root.actions()[0].id(), "open");
    EXPECT_EQ(root.actions()[1].id(), "new");
    EXPECT_EQ(root.find_action("new")->label(), "New connection");
    EXPECT_EQ(root.find_action("gone"), nullptr);
    EXPECT_EQ(root.children()[1].label(), "B");
    ASSERT_NE(find_resource(roots, "deep"), nullptr);
    EXPECT_EQ(find_resource(roots, "deep")->label(), "Deep");
    EXPECT_EQ(find_resource(roots, "remote.connection:a")->label(), "A");
    EXPECT_EQ(find_resource(roots, "nothing"), nullptr);
}

TEST(DeriveInputTest, DescribesParametersAsASchema) {
    params::ParamSpec count;
    count.name = "count";
    count.kind = params::ParamKind::Integer;
    count.required = true;
    const std::vector<ParamSpec> list = {
        ParamSpec::text("text")
            .described("Text to deliver to the connected SSH terminal")
            .with_hint("command or text"),
        count,
    };
    EXPECT_EQ(derive_input(list).dump(),
              R"({"type":"object","properties":{"text":{"type":"string","description":)"
              R"("Text to deliver to the connected SSH terminal","examples":["command or text"]},)"
              R"("count":{"type":"integer"}},"required":["count"],"additionalProperties":false})");
    EXPECT_EQ(derive_input({}).dump(),
              R"({"type":"object","properties":{},"required":[],"additionalProperties":false})");
}

TEST(ActionRegistryTest, OneHandlerPerType) {
    ActionRegistry registry;
    auto noop = [](Document&, const EncodedAction&) -> std::expected<void, std::string> {
        return {};
    };
    EXPECT_TRUE(registry.register_handler("remote.action", noop).has_value());
    EXPECT_EQ(registry.register_handler("remote.action", noop).error(),
              "a handler for action type `remote.action` is already registered");
    EXPECT_FALSE(registry.register_handler("other", ActionHandler{}).has_value());
    EXPECT_NE(registry.handler("remote.action"), nullptr);
    EXPECT_EQ(registry.handler("remote.operation"), nullptr);
    EXPECT_EQ(registry.action_types(), std::vector<std::string>{"remote.action"});
}

// A handler that stores the payload under "name" and then fails when the payload says so, so
// the tests can see whether a failed dispatch left its edit behind.
std::expected<void, std::string> store_name(Document& doc, const EncodedAction& action) {
    if (auto r = doc.put(ObjId::root(), "name", action.payload); !r) return r;
    if (action.payload == "fail") return std::unexpected(std::string("refused by handler"));
    if (action.payload == "throw") throw std::runtime_error("handler blew up");
    return {};
}

std::optional<std::string> stored_name(const Document& doc) {
    auto value = doc.get(ObjId::root(), "name");
    if (!value || !*value) return std::nullopt;
    const auto* scalar = std::get_if<vorn_ui::doc::ScalarValue>(&**value);
    if (scalar == nullptr) return std::nullopt;
    const auto* text = std::get_if<std::string>(scalar);
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

TEST(ExecutorTest, AppliesTheHandlerAsOneChangeOrNotAtAll) {
    Document doc;
    const auto actor = doc.actor_id();

    auto ok = executor::dispatch_by(doc, store_name, EncodedAction{"remote.action", "Lab"}, actor);
    ASSERT_TRUE(ok.has_value()) << ok.error().display();
    EXPECT_TRUE(ok->changed);
    EXPECT_EQ(ok->heads, doc.get_heads());
    EXPECT_EQ(stored_name(doc), "Lab");
    EXPECT_EQ(doc.get_changes().size(), 1u);

    for (const char* payload : {"fail", "throw"}) {
        SCOPED_TRACE(payload);
        const auto heads = doc.get_heads();
        auto failed =
            executor::dispatch_by(doc, store_name, EncodedAction{"remote.action", payload}, actor);
        ASSERT_FALSE(failed.has_value());
        EXPECT_EQ(failed.error().kind, executor::DispatchError::Kind::Rejected);
        EXPECT_EQ(stored_name(doc), "Lab");
        EXPECT_EQ(doc.get_heads(), heads);
        EXPECT_FALSE(doc.in_transaction());
    }
    auto failed =
        executor::dispatch_by(doc, store_name, EncodedAction{"remote.action", "fail"}, actor);
    EXPECT_EQ(failed.error().display(), "remote.action was rejected: refused by handler");

    // Another writer's id is refused before anything runs.
    auto other = actor;
    other[0] ^= 1;
    auto mismatch =
        executor::dispatch_by(doc, store_name, EncodedAction{"remote.action", "Other"}, other);
    ASSERT_FALSE(mismatch.has_value());
    EXPECT_EQ(mismatch.error().kind, executor::DispatchError::Kind::ActorMismatch);
    EXPECT_EQ(stored_name(doc), "Lab");
    EXPECT_FALSE(executor::dispatch_by(doc, store_name, EncodedAction{"remote.action", "x"},
                                       std::span<const std::uint8_t>(actor).first(8))
                     .has_value());

    // A handler that edits nothing succeeds without a change.
    auto idle = executor::dispatch_by(
        doc, [](Document&, const EncodedAction&) -> std::expected<void, std::string> { return {}; },
        EncodedAction{"remote.action", ""}, actor);
    ASSERT_TRUE(idle.has_value());
    EXPECT_FALSE(idle->changed);
    EXPECT_EQ(doc.get_changes().size(), 1u);
}

TEST(ExecutorTest, DispatchesThroughTheRegistryWithContext) {
    Document doc;
    ActionRegistry registry;
    ASSERT_TRUE(registry.register_handler("remote.action", store_name).has_value());
    ActionContext context;
    context.summary = "Rename connection";
    context.source = ActionSource{"org.example.remote", "Remote"};

    auto done = executor::dispatch(registry, doc, EncodedAction{"remote.action", "Lab"},
                                   doc.actor_id(), context);
    ASSERT_TRUE(done.has_value()) << done.error().display();
    EXPECT_EQ(done->context, context);
    EXPECT_EQ(stored_name(doc), "Lab");

    auto unknown =
        executor::dispatch(registry, doc, EncodedAction{"remote.other", "x"}, doc.actor_id());
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(unknown.error().display(), "no handler is registered for action type `remote.other`");

    auto with_context = executor::dispatch_by_with_context(
        doc, *registry.handler("remote.action"), EncodedAction{"remote.action", "Lab 2"},
        doc.actor_id(),
        context.enriched_by(ActionContext{.summary = {},
                                          .source = {},
                                          .requested_by = "assistant",
                                          .correlation_id = {},
                                          .attributes = {}}));
    ASSERT_TRUE(with_context.has_value());
    EXPECT_EQ(with_context->context.requested_by, "assistant");
    EXPECT_EQ(stored_name(doc), "Lab 2");
}

}  // namespace
}  // namespace vorn_actions
