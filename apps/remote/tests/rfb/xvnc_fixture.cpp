#include "xvnc_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "rfb_test_util.h"

extern char** environ;

namespace remote::test {
namespace {

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
            const char* stdin_path = nullptr, const char* stdout_path = nullptr) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
    for (const auto& e : extra_env) env_strings.push_back(e);
    std::vector<char*> args, env;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env_strings) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (stdin_path) posix_spawn_file_actions_addopen(&fa, 0, stdin_path, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, stdout_path ? stdout_path : "/dev/null",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), env.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

int wait_exit(pid_t pid, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() > deadline) return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool speaks_rfb(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        pollfd p{fd, POLLIN, 0};
        char buf[4];
        ok = ::poll(&p, 1, 2000) > 0 && ::recv(fd, buf, 4, MSG_WAITALL) == 4 &&
             std::memcmp(buf, "RFB ", 4) == 0;
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool XvncServer::available() { return ::access("/usr/bin/Xvnc", X_OK) == 0; }

std::optional<XvncServer> XvncServer::start(const Options& o, std::string& why) {
    XvncServer s;
    char tmpl[] = "/tmp/rfb-xvnc-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        why = "mkdtemp failed";
        return std::nullopt;
    }
    s.dir_ = tmpl;
    // A display number nobody uses: neither its lock file nor its socket exists.
    for (int n = 40 + static_cast<int>(::getpid() % 200);; ++n) {
        if (n > 1000) {
            why = "no free X display number";
            return std::nullopt;
        }
        std::string lock = std::string("/tmp/.X") + std::to_string(n) + "-lock";
        std::string sock = std::string("/tmp/.X11-unix/X") + std::to_string(n);
        if (::access(lock.c_str(), F_OK) != 0 && ::access(sock.c_str(), F_OK) != 0) {
            s.display_ = n;
            break;
        }
    }
    s.port_ = unused_port();
    std::vector<std::string> argv{"Xvnc", std::string(":") + std::to_string(s.display_), "-rfbport",
                                  std::to_string(s.port_), "-localhost", "-geometry",
                                  std::to_string(o.width) + "x" + std::to_string(o.height),
                                  "-depth", "24", "-nolisten", "tcp", "-AlwaysShared"};
    if (o.password) {
        std::string plain = s.dir_ + "/plain", file = s.dir_ + "/passwd";
        std::ofstream(plain) << *o.password << "\n";
        pid_t p = spawn({"vncpasswd", "-f"}, {}, plain.c_str(), file.c_str());
        if (p < 0 || wait_exit(p, std::chrono::seconds(10)) != 0) {
            why = "vncpasswd -f failed (is tigervnc-tools installed?)";
            return std::nullopt;
        }
        argv.insert(argv.end(), {"-SecurityTypes", "VncAuth", "-PasswordFile", file});
    } else {
        argv.insert(argv.end(), {"-SecurityTypes", "None"});
    }
    argv.insert(argv.end(), o.extra_args.begin(), o.extra_args.end());
    s.pid_ = spawn(argv, {});
    if (s.pid_ < 0) {
        why = "could not start Xvnc";
        return std::nullopt;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!speaks_rfb(s.port_)) {
        if (std::chrono::steady_clock::now() > deadline || wait_exit(s.pid_, {}) != -2) {
            why = std::string("Xvnc did not come up on port ") + std::to_string(s.port_);
            return std::nullopt;  // the destructor stops it
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::optional<XvncServer>(std::move(s));
}

XvncServer::XvncServer(XvncServer&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)),
      display_(o.display_),
      port_(o.port_),
      dir_(std::exchange(o.dir_, {})) {}

XvncServer::~XvncServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (wait_exit(pid_, std::chrono::seconds(5)) == -2) {
            ::kill(pid_, SIGKILL);
            wait_exit(pid_, std::chrono::seconds(5));
        }
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

std::string XvncServer::display() const {
    std::string d = std::to_string(display_);
    d.insert(d.begin(), ':');
    return d;
}

bool XvncServer::run_client(const std::vector<std::string>& argv) const {
    std::string env = "DISPLAY=";
    env += display();
    pid_t p = spawn(argv, {env});
    return p > 0 && wait_exit(p, std::chrono::seconds(20)) == 0;
}

}  // namespace remote::test
