#include "vorn/actions/endpoint.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace vorn_actions::endpoint {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// A request line longer than this is refused and its client dropped: requests are small, and
// an unbounded buffer would let any local process grow our memory.
constexpr std::size_t kMaxLine = 64 * 1024;
// A client that does not read its responses is dropped once this much is waiting for it.
constexpr std::size_t kMaxPendingOutput = 1024 * 1024;
constexpr std::size_t kMaxClients = 16;
// Per client and per poll, so one busy client cannot starve the UI thread.
constexpr std::size_t kReadBudget = 256 * 1024;

std::string os_error(int err) {
    return std::error_code(err, std::generic_category()).message();
}

std::string dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json error_response(const Json& id, std::string_view code, std::string_view message,
                    Json extra = Json::object()) {
    Json error = {{"code", code}, {"message", message}};
    for (auto& [key, value] : extra.items()) error[key] = value;
    return {{"id", id}, {"ok", false}, {"error", std::move(error)}};
}

Json describe_action(const ActionSpec& action) {
    Json out = {{"id", action.id()},
                {"label", action.label()},
                {"type", action.action_type()},
                {"class", static_cast<int>(action.action_class())},
                {"contract", action.contract_tags()},
                {"destructive", action.is_destructive()}};
    if (action.description()) out["description"] = *action.description();
    if (const auto& u = action.unavailability()) {
        out["unavailable"] = {{"reason", u->reason_code}, {"message", u->message}};
    }
    // Parsed back into the response's JSON type; the schema's member order is not significant.
    out["input"] =
        Json::parse(derive_input(action.params())
                        .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    return out;
}

Json describe_resource(const Resource& resource) {
    Json actions = Json::array();
    for (const ActionSpec& action : resource.actions()) actions.push_back(describe_action(action));
    Json children = Json::array();
    for (const Resource& child : resource.children()) children.push_back(describe_resource(child));
    return {{"id", resource.id()},
            {"kind", resource.kind()},
            {"label", resource.label()},
            {"actions", std::move(actions)},
            {"children", std::move(children)}};
}

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

Json invoke(ControlHost& host, const Json& id, const Json& request) {
    const Json* resource_id = member(request, "resource");
    const Json* action_id = member(request, "action");
    if (resource_id == nullptr || !resource_id->is_string() || action_id == nullptr ||
        !action_id->is_string()) {
        return error_response(id, "bad_request", "invoke needs \"resource\" and \"action\" texts");
    }
    const Json* args_json = member(request, "args");
    auto args = params::ActionArgs::from_json(args_json ? *args_json : Json());
    if (!args) return error_response(id, "invalid_arguments", args.error());

    const std::vector<Resource> tree = host.resources();
    const Resource* resource = find_resource(tree, resource_id->get<std::string>());
    if (resource == nullptr) {
        return error_response(id, "unknown_resource",
                              "no resource `" + resource_id->get<std::string>() + "`");
    }
    const ActionSpec* action = resource->find_action(action_id->get<std::string>());
    if (action == nullptr) {
        return error_response(id, "unknown_action",
                              "resource `" + resource->id() + "` has no action `" +
                                  action_id->get<std::string>() + "`");
    }
    if (const auto& u = action->unavailability()) {
        return error_response(id, "unavailable", u->message, {{"reason", u->reason_code}});
    }
    const Json* confirm = member(request, "confirm");
    if (action->is_destructive() && !(confirm && confirm->is_boolean() && confirm->get<bool>())) {
        return error_response(id, "confirmation_required",
                              "\"" + action->label() +
                                  "\" cannot be undone; repeat the request with \"confirm\": true");
    }
    auto encoded = action->invoke(*args);
    if (!encoded) return error_response(id, "invalid_arguments", encoded.error());
    auto outcome = host.run(*action, *encoded);
    if (!outcome) return error_response(id, "failed", outcome.error());
    return {{"id", id}, {"ok", true}, {"result", std::move(*outcome)}};
}

}  // namespace

Json describe_resources(const std::vector<Resource>& resources) {
    Json list = Json::array();
    for (const Resource& r : resources) list.push_back(describe_resource(r));
    return list;
}

std::string handle_request(ControlHost& host, std::string_view line) {
    Json request = Json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (request.is_discarded() || !request.is_object()) {
        return dump(
            error_response(nullptr, "bad_request", "a request is one JSON object per line"));
    }
    const Json* id_member = member(request, "id");
    // The id is echoed back, so only a plain value is taken: a deeply nested one would be
    // written out recursively.
    if (id_member != nullptr && !id_member->is_primitive()) {
        return dump(error_response(nullptr, "bad_request",
                                   "the request \"id\" must be a number or a text"));
    }
    const Json id = id_member ? *id_member : Json();
    const Json* method = member(request, "method");
    if (method == nullptr || !method->is_string()) {
        return dump(error_response(id, "bad_request", "the request has no \"method\" text"));
    }
    try {
        if (*method == "list") {
            return dump({{"id", id},
                         {"ok", true},
                         {"result", {{"resources", describe_resources(host.resources())}}}});
        }
        if (*method == "invoke") return dump(invoke(host, id, request));
    } catch (const std::exception& ex) {
        // Application code runs inside; whatever it throws must not take the UI thread down.
        return dump(error_response(id, "failed", ex.what()));
    }
    return dump(error_response(
        id, "unknown_method",
        "unknown method `" + method->get<std::string>() + "`; use \"list\" or \"invoke\""));
}

// ---------------------------------------------------------------------------------------------

struct Client {
    int fd = -1;
    std::string input;
    std::string output;
    bool closing = false;  // stop reading; drop once the output is sent
};

struct ControlEndpoint::Impl {
    fs::path path;
    int listen_fd = -1;
    ino_t inode = 0;
    std::vector<Client> clients;

    ~Impl() {
        for (Client& c : clients) ::close(c.fd);
        if (listen_fd >= 0) ::close(listen_fd);
        // Remove the socket file only if it is still ours (a successor may have replaced it).
        struct stat st {};
        if (!path.empty() && ::lstat(path.c_str(), &st) == 0 && st.st_ino == inode) {
            ::unlink(path.c_str());
        }
    }

    void accept_clients() {
        for (;;) {
            int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;  // EAGAIN, or an aborted connection: try again next poll
            struct ucred cred {};
            socklen_t len = sizeof cred;
            bool same_user = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 &&
                             cred.uid == ::geteuid();
            if (!same_user || clients.size() >= kMaxClients) {
                ::close(fd);
                continue;
            }
            clients.push_back(Client{fd, {}, {}, false});
        }
    }

    static void read_requests(ControlHost& host, Client& c) {
        std::array<char, 16 * 1024> buffer{};
        std::size_t budget = kReadBudget;
        while (!c.closing && budget > 0) {
            ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), 0);
            if (n == 0) {
                c.closing = true;
                break;
            }
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) c.closing = true;
                break;
            }
            budget -= std::min(budget, static_cast<std::size_t>(n));
            c.input.append(buffer.data(), static_cast<std::size_t>(n));
            std::size_t start = 0;
            for (std::size_t nl; (nl = c.input.find('\n', start)) != std::string::npos;
                 start = nl + 1) {
                std::string_view line(c.input.data() + start, nl - start);
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
                c.output += handle_request(host, line);
                c.output.push_back('\n');
            }
            c.input.erase(0, start);
            if (c.input.size() > kMaxLine) {
                c.output +=
                    dump(error_response(nullptr, "bad_request", "request line is too long"));
                c.output.push_back('\n');
                c.input.clear();
                c.closing = true;
            }
        }
    }

    // False when the client is gone or hopelessly behind.
    static bool write_responses(Client& c) {
        while (!c.output.empty()) {
            ssize_t n = ::send(c.fd, c.output.data(), c.output.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                return false;
            }
            c.output.erase(0, static_cast<std::size_t>(n));
        }
        if (c.output.size() > kMaxPendingOutput) return false;
        return !(c.closing && c.output.empty());
    }
};

ControlEndpoint::ControlEndpoint(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ControlEndpoint::~ControlEndpoint() = default;

const fs::path& ControlEndpoint::path() const {
    return impl_->path;
}

std::vector<int> ControlEndpoint::fds() const {
    std::vector<int> fds{impl_->listen_fd};
    for (const Client& c : impl_->clients) fds.push_back(c.fd);
    return fds;
}

void ControlEndpoint::poll_once(ControlHost& host) {
    impl_->accept_clients();
    std::erase_if(impl_->clients, [&](Client& c) {
        Impl::read_requests(host, c);
        if (Impl::write_responses(c)) return false;
        ::close(c.fd);
        return true;
    });
}

std::expected<std::unique_ptr<ControlEndpoint>, std::string> ControlEndpoint::open(
    std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos || name.starts_with(".")) {
        return std::unexpected("control endpoint name `" + std::string(name) +
                               "` is not a file name");
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return std::unexpected(std::string(
            "no runtime directory for the control endpoint (XDG_RUNTIME_DIR is not set)"));
    }
    const fs::path dir = fs::path(runtime) / "vorn";
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::unexpected("control endpoint directory " + dir.string() + ": " +
                               os_error(errno));
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        return std::unexpected("control endpoint directory " + dir.string() + ": " +
                               os_error(errno));
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        return std::unexpected("control endpoint directory " + dir.string() +
                               " must be a private directory owned by this user");
    }

    auto impl = std::make_unique<Impl>();
    const fs::path path = dir / (std::string(name) + ".sock");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.string().size() >= sizeof addr.sun_path) {
        return std::unexpected("control socket path " + path.string() + " is too long");
    }
    std::memcpy(addr.sun_path, path.c_str(), path.string().size() + 1);

    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            return std::unexpected(path.string() + " exists and is not a socket");
        }
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool live =
            probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0) ::close(probe);
        if (live) return std::unexpected("another instance is already serving " + path.string());
        ::unlink(path.c_str());  // left behind by an instance that ended without cleaning up
    }

    impl->listen_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (impl->listen_fd < 0) return std::unexpected("control socket: " + os_error(errno));
    if (::bind(impl->listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        return std::unexpected("control socket " + path.string() + ": " + os_error(errno));
    }
    impl->path = path;
    if (::lstat(path.c_str(), &st) == 0) impl->inode = st.st_ino;
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(impl->listen_fd, 16) != 0) {
        return std::unexpected("control socket " + path.string() + ": " + os_error(errno));
    }
    return std::unique_ptr<ControlEndpoint>(new ControlEndpoint(std::move(impl)));
}

}  // namespace vorn_actions::endpoint
