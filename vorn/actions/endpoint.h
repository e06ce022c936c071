#pragma once
// The local control endpoint: a Unix-domain socket in the user's runtime directory through which
// assistants and automation on this machine list an application's resources and invoke its
// actions, one JSON request per line and one JSON response per line.
// Threads: everything runs on the UI thread. The platform polls fds() for readability and calls
// poll_once(), which never blocks; the endpoint owns its sockets and removes its socket file.
//
// Requests:  {"id":1,"method":"list"}
//            {"id":2,"method":"invoke","resource":"…","action":"…","args":{…},"confirm":true}
// Responses: {"id":1,"ok":true,"result":…} or
// {"id":2,"ok":false,"error":{"code":"…","message":"…"}}

#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "vorn/actions/encoded.h"
#include "vorn/actions/resource.h"

namespace vorn_actions::endpoint {

// What the endpoint asks of the application.
class ControlHost {
  public:
    virtual ~ControlHost() = default;
    // The current tree, rebuilt on every call.
    virtual std::vector<Resource> resources() = 0;
    // Runs an invoked action's encoded action (a document edit or an operation) and describes
    // the outcome, or says why it failed.
    virtual std::expected<nlohmann::json, std::string> run(const ActionSpec& action,
                                                           const EncodedAction& encoded) = 0;
};

// Answers one request line; the response has no trailing newline. Never fails: malformed
// requests get an error response.
[[nodiscard]] std::string handle_request(ControlHost& host, std::string_view line);

// The resource tree as the "list" method returns it.
[[nodiscard]] nlohmann::json describe_resources(const std::vector<Resource>& resources);

class ControlEndpoint {
  public:
    // Listens on $XDG_RUNTIME_DIR/vorn/{name}.sock; the "vorn" directory is created private
    // (0700) and must stay private and owned by this user. A stale socket file is replaced;
    // a live one (another instance serving) is an error.
    [[nodiscard]] static std::expected<std::unique_ptr<ControlEndpoint>, std::string> open(
        std::string_view name);
    ~ControlEndpoint();
    ControlEndpoint(const ControlEndpoint&) = delete;
    ControlEndpoint& operator=(const ControlEndpoint&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const;
    // The listening socket and every client socket, for the platform's poll.
    [[nodiscard]] std::vector<int> fds() const;
    // Accepts waiting clients, answers every complete request line and sends what it can.
    // Bounded work per call; never blocks.
    void poll_once(ControlHost& host);

  private:
    struct Impl;
    explicit ControlEndpoint(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vorn_actions::endpoint
