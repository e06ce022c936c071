#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <thread>

#include "vorn/actions/endpoint.h"

namespace vorn_actions::endpoint {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// A small application: one list resource with a fixed action, a parameterised one, a
// destructive one and an unavailable one.
class FakeHost : public ControlHost {
  public:
    std::vector<Resource> resources() override {
        std::vector<Resource> tree;
        tree.push_back(
            Resource("app.root", "app.list", "Things")
                .with_action(ActionSpec("open", "Open", EncodedAction{"app.operation", "\"Open\""})
                                 .with_class(ActionClass::View))
                .with_child(
                    Resource("app.thing:1", "app.thing", "Thing one")
                        .with_action(ActionSpec("rename", "Rename", "app.action",
                                                [](const ActionArgs& a)
                                                    -> std::expected<EncodedAction, std::string> {
                                                    return EncodedAction{
                                                        "app.action",
                                                        "rename:" + a.text("value").value_or("")};
                                                })
                                         .with_param(ParamSpec::text("value").labelled("New name")))
                        .with_action(ActionSpec("delete", "Delete thing",
                                                EncodedAction{"app.action", "delete"})
                                         .destructive())
                        .with_action(ActionSpec("connect", "Connect",
                                                EncodedAction{"app.operation", "connect"})
                                         .with_contract({"network"})
                                         .unavailable("capability_required", "Not allowed here"))));
        return tree;
    }
    std::expected<Json, std::string> run(const ActionSpec&, const EncodedAction& encoded) override {
        ran.push_back(encoded);
        if (encoded.payload == "rename:fail")
            return std::unexpected(std::string("saved thing is gone"));
        if (encoded.payload == "rename:throw") throw std::runtime_error("bad state");
        return Json{{"outcome", "done"}};
    }
    std::vector<EncodedAction> ran;
};

Json ask(FakeHost& host, const std::string& line) {
    return Json::parse(handle_request(host, line));
}

TEST(HandleRequestTest, ListsTheTree) {
    FakeHost host;
    Json response = ask(host, R"({"id":7,"method":"list"})");
    EXPECT_EQ(response["id"], 7);
    EXPECT_EQ(response["ok"], true);
    const Json& root = response["result"]["resources"][0];
    EXPECT_EQ(root["id"], "app.root");
    EXPECT_EQ(root["actions"][0]["class"], 2);
    const Json& thing = root["children"][0];
    EXPECT_EQ(thing["label"], "Thing one");
    EXPECT_EQ(thing["actions"][0]["input"]["properties"]["value"]["title"], "New name");
    EXPECT_EQ(thing["actions"][1]["destructive"], true);
    EXPECT_EQ(thing["actions"][2]["unavailable"],
              (Json{{"reason", "capability_required"}, {"message", "Not allowed here"}}));
    EXPECT_EQ(thing["actions"][2]["contract"], Json::array({"network"}));
    EXPECT_TRUE(host.ran.empty());
}

TEST(HandleRequestTest, InvokesOnlyWhatMayRun) {
    struct Case {
        std::string request;
        std::string code;     // empty: success
        std::string payload;  // what the host must have run on success
    };
    const std::vector<Case> cases = {
        {R"({"id":1,"method":"invoke","resource":"app.root","action":"open"})", "", "\"Open\""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"rename","args":{"value":"Lab"}})",
         "", "rename:Lab"},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"rename"})", "", "rename:"},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"delete","confirm":true})",
         "", "delete"},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"delete"})",
         "confirmation_required", ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"delete","confirm":"yes"})",
         "confirmation_required", ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"connect"})", "unavailable",
         ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:2","action":"rename"})",
         "unknown_resource", ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"open"})", "unknown_action",
         ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"rename","args":{"value":3}})",
         "invalid_arguments", ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"rename","args":["Lab"]})",
         "invalid_arguments", ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1"})", "bad_request", ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"rename","args":{"value":"fail"}})",
         "failed", ""},
        {R"({"id":1,"method":"invoke","resource":"app.thing:1","action":"rename","args":{"value":"throw"}})",
         "failed", ""},
        {R"({"id":1,"method":"remove"})", "unknown_method", ""},
        {R"({"id":1})", "bad_request", ""},
        {R"([1,2])", "bad_request", ""},
        {R"({"id":[1],"method":"list"})", "bad_request", ""},
        {R"({"id":)" + std::string(20000, '[') + std::string(20000, ']') + R"(,"method":"list"})",
         "bad_request", ""},
        {R"({"id":1,"method":"list")", "bad_request", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        FakeHost host;
        Json response = ask(host, c.request);
        if (c.code.empty()) {
            EXPECT_EQ(response["ok"], true) << response.dump();
            EXPECT_EQ(response["result"]["outcome"], "done");
            ASSERT_EQ(host.ran.size(), 1u);
            EXPECT_EQ(host.ran[0].payload, c.payload);
        } else {
            EXPECT_EQ(response["ok"], false);
            EXPECT_EQ(response["error"]["code"], c.code) << response.dump();
            EXPECT_FALSE(response["error"]["message"].get<std::string>().empty());
            if (c.code != "failed") {
                EXPECT_TRUE(host.ran.empty());
            }
        }
    }
}

// A private runtime directory for one test, restored afterwards.
class EndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "endpoint-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        runtime_ = templ;
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old) saved_ = old;
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        fs::remove_all(runtime_);
    }

    static int connect_to(const fs::path& path) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return -1;
        }
        timeval timeout{0, 20000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        return fd;
    }

    // Polls the endpoint and reads until `lines` lines or the end of the stream arrived, for at
    // most two seconds.
    static std::string exchange(ControlEndpoint& endpoint, FakeHost& host, int fd,
                                std::size_t lines) {
        std::string received;
        for (int round = 0; round < 100; ++round) {
            endpoint.poll_once(host);
            char buffer[4096];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0) break;
            if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(std::count(received.begin(), received.end(), '\n')) >=
                lines) {
                break;
            }
        }
        return received;
    }

    fs::path runtime_;
    std::optional<std::string> saved_;
};

TEST_F(EndpointTest, ServesRequestLinesOverThePrivateSocket) {
    auto endpoint = ControlEndpoint::open("org.example.test");
    ASSERT_TRUE(endpoint.has_value()) << endpoint.error();
    const fs::path path = (*endpoint)->path();
    EXPECT_EQ(path, runtime_ / "vorn/org.example.test.sock");
    struct stat st {};
    ASSERT_EQ(::lstat((runtime_ / "vorn").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second instance under the same name is refused while this one serves.
    auto second = ControlEndpoint::open("org.example.test");
    ASSERT_FALSE(second.has_value());
    EXPECT_EQ(second.error(), "another instance is already serving " + path.string());

    FakeHost host;
    int fd = connect_to(path);
    ASSERT_GE(fd, 0);
    // Two requests in one write, then a third split across writes.
    const std::string first =
        "{\"id\":1,\"method\":\"list\"}\r\n\n"
        "{\"id\":2,\"method\":\"invoke\",\"resource\":\"app.thing:1\",\"action\":\"rename\","
        "\"args\":{\"value\":\"Lab\"}}\n{\"id\":3,";
    ASSERT_EQ(::send(fd, first.data(), first.size(), 0), static_cast<ssize_t>(first.size()));
    std::string received = exchange(**endpoint, host, fd, 2);
    ASSERT_EQ(::send(fd, "\"method\":\"nope\"}\n", 17, 0), 17);
    received += exchange(**endpoint, host, fd, 1);

    std::vector<Json> responses;
    for (std::size_t start = 0, nl; (nl = received.find('\n', start)) != std::string::npos;
         start = nl + 1) {
        responses.push_back(Json::parse(received.substr(start, nl - start)));
    }
    ASSERT_EQ(responses.size(), 3u) << received;
    EXPECT_EQ(responses[0]["result"]["resources"][0]["id"], "app.root");
    EXPECT_EQ(responses[1]["id"], 2);
    EXPECT_EQ(responses[1]["ok"], true);
    EXPECT_EQ(responses[2]["error"]["code"], "unknown_method");
    ASSERT_EQ(host.ran.size(), 1u);
    EXPECT_EQ(host.ran[0].payload, "rename:Lab");
    EXPECT_EQ((*endpoint)->fds().size(), 2u);

    // The endpoint removes its socket file when it goes.
    ::close(fd);
    endpoint->reset();
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(EndpointTest, DropsClientsWithOverlongLines) {
    auto endpoint = ControlEndpoint::open("app");
    ASSERT_TRUE(endpoint.has_value()) << endpoint.error();
    FakeHost host;
    int fd = connect_to((*endpoint)->path());
    ASSERT_GE(fd, 0);
    const std::string flood(70 * 1024, 'x');
    std::size_t sent = 0;
    for (int round = 0; round < 100 && sent < flood.size(); ++round) {
        ssize_t n = ::send(fd, flood.data() + sent, flood.size() - sent, MSG_DONTWAIT);
        if (n > 0) sent += static_cast<std::size_t>(n);
        (*endpoint)->poll_once(host);
    }
    std::string received = exchange(**endpoint, host, fd, 1);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(Json::parse(received.substr(0, received.find('\n')))["error"]["message"],
              "request line is too long");
    (*endpoint)->poll_once(host);
    EXPECT_EQ((*endpoint)->fds().size(), 1u);
    ::close(fd);
}

TEST_F(EndpointTest, RefusesUnsafeOrMissingPlaces) {
    // A stale socket file left by an instance that died is replaced.
    fs::create_directory(runtime_ / "vorn");
    ::chmod((runtime_ / "vorn").c_str(), 0700);
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, (runtime_ / "vorn/stale.sock").c_str(),
                     sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    EXPECT_TRUE(ControlEndpoint::open("stale").has_value());

    std::ofstream(runtime_ / "vorn/file.sock") << "x";
    EXPECT_FALSE(ControlEndpoint::open("file").has_value());
    EXPECT_TRUE(fs::exists(runtime_ / "vorn/file.sock"));
    EXPECT_FALSE(ControlEndpoint::open("../escape").has_value());

    ::chmod((runtime_ / "vorn").c_str(), 0755);
    auto open_dir = ControlEndpoint::open("app");
    ASSERT_FALSE(open_dir.has_value());
    EXPECT_EQ(open_dir.error(), "control endpoint directory " + (runtime_ / "vorn").string() +
                                    " must be a private directory owned by this user");

    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_FALSE(ControlEndpoint::open("app").has_value());
}

}  // namespace
}  // namespace vorn_actions::endpoint
