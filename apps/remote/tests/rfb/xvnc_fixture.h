#pragma once
// A private TigerVNC Xvnc on 127.0.0.1 for tests and benchmarks: a free display number and port,
// security None or VNC Authentication, started and stopped by the owner.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace remote::test {

class XvncServer {
public:
    struct Options {
        std::uint16_t width = 320, height = 240;
        std::optional<std::string> password;  // VNC Authentication when set
        std::vector<std::string> extra_args;
    };
    // Starts the server and waits (bounded) until it accepts RFB connections; nothing on failure
    // (`why` says what went wrong).
    static std::optional<XvncServer> start(const Options& options, std::string& why);
    static bool available();  // Xvnc is installed

    XvncServer(XvncServer&&) noexcept;
    XvncServer& operator=(XvncServer&&) = delete;
    ~XvncServer();

    std::uint16_t port() const { return port_; }
    std::string display() const;
    // Runs a command with DISPLAY set to this server; true when it exits with status 0.
    bool run_client(const std::vector<std::string>& argv) const;

private:
    XvncServer() = default;
    pid_t pid_ = -1;
    int display_ = 0;
    std::uint16_t port_ = 0;
    std::string dir_;
};

}  // namespace remote::test
