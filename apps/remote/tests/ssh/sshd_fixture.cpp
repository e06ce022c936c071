#include "sshd_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace remote::testing {
namespace {

std::string random_text(std::size_t length) {
    static const char alphabet[] = "abcdefghijkmnopqrstuvwxyz23456789";
    std::random_device device;
    std::mt19937 generator(device());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[pick(generator)];
    return text;
}

std::uint16_t unused_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    std::uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    if (fd >= 0) ::close(fd);
    return port;
}

bool accepts_connections(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::expected<void, std::string> write_file(const std::filesystem::path& path,
                                            const std::string& text, mode_t mode) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out || ::chmod(path.c_str(), mode) != 0) {
        return std::unexpected("cannot write " + path.string());
    }
    return {};
}

}  // namespace

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::expected<std::string, std::string> run_shell(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return std::unexpected("cannot run: " + command);
    std::string output;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int status = ::pclose(pipe);
    if (status != 0) {
        return std::unexpected(command + " failed (" + std::to_string(status) + "): " + output);
    }
    return output;
}

std::expected<std::unique_ptr<Sshd>, std::string> Sshd::start() {
    if (::geteuid() != 0) {
        return std::unexpected(std::string(
            "these tests start a private sshd and create a throwaway user, which needs root"));
    }
    if (::access("/usr/sbin/sshd", X_OK) != 0) {
        return std::unexpected(std::string("OpenSSH's sshd is not installed (openssh-server)"));
    }
    std::unique_ptr<Sshd> sshd(new Sshd());
    char pattern[] = "/tmp/remote-sshd-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return std::unexpected(std::string("mkdtemp failed"));
    sshd->dir_ = pattern;
    // The test user's login reads its home and its authorized keys below this directory.
    ::chmod(pattern, 0755);
    ::mkdir("/run/sshd", 0755);

    const auto& dir = sshd->dir_;
    if (auto made = run_shell("ssh-keygen -q -t ed25519 -N '' -C remote-test-host -f " +
                              shell_quote((dir / "host_ed25519_key").string()));
        !made) {
        return std::unexpected(made.error());
    }

    sshd->user_ = "rmt" + random_text(8);
    sshd->password_ = random_text(16);
    const auto home = dir / "home";
    std::filesystem::create_directory(home);
    if (auto added =
            run_shell("useradd -M -d " + shell_quote(home.string()) + " -s /bin/sh " + sshd->user_);
        !added) {
        return std::unexpected(added.error());
    }
    sshd->user_created_ = true;
    if (auto chowned =
            run_shell("chown " + sshd->user_ + " " + shell_quote(home.string()) + " && echo " +
                      shell_quote(sshd->user_ + ":" + sshd->password_) + " | chpasswd");
        !chowned) {
        return std::unexpected(chowned.error());
    }
    if (auto written = write_file(dir / "authorized_keys", "", 0644); !written) {
        return std::unexpected(written.error());
    }
    std::filesystem::create_directory(dir / "keys");
    if (auto launched = sshd->launch(); !launched) return std::unexpected(launched.error());
    return sshd;
}

std::expected<void, std::string> Sshd::launch() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = unused_port();
        if (port_ == 0) continue;
        std::ostringstream config;
        config << "Port " << port_ << "\n"
               << "ListenAddress 127.0.0.1\n"
               << "HostKey " << (dir_ / "host_ed25519_key").string() << "\n"
               << "PidFile " << (dir_ / "sshd.pid").string() << "\n"
               << "AuthorizedKeysFile " << (dir_ / "authorized_keys").string() << "\n"
               << "AllowUsers " << user_ << "\n"
               << "StrictModes no\n"
               << "UsePAM no\n"
               << "PasswordAuthentication yes\n"
               << "KbdInteractiveAuthentication no\n"
               << "PubkeyAuthentication yes\n"
               << "PermitRootLogin no\n"
               << "PrintMotd no\n"
               << "PrintLastLog no\n"
               << "UseDNS no\n"
               << "MaxStartups 64\n"
               << "LogLevel DEBUG2\n";
        if (auto written = write_file(dir_ / "sshd_config", config.str(), 0644); !written) {
            return written;
        }
        const std::string log = (dir_ / "sshd.log").string();
        const std::string conf = (dir_ / "sshd_config").string();
        const pid_t pid = ::fork();
        if (pid < 0) return std::unexpected(std::string("fork failed"));
        if (pid == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                ::dup2(fd, STDERR_FILENO);
                ::dup2(fd, STDOUT_FILENO);
            }
            ::execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", conf.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        pid_ = pid;
        for (int i = 0; i < 250; ++i) {
            if (accepts_connections(port_)) return {};
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;  // most likely lost the port to someone else; try another
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    return std::unexpected("sshd did not start; its log:\n" + log());
}

Sshd::~Sshd() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        bool reaped = false;
        for (int i = 0; i < 100 && !reaped; ++i) {
            reaped = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!reaped) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    if (user_created_) (void)run_shell("userdel -f " + user_);
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string Sshd::log() const {
    std::ifstream in(dir_ / "sshd.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::expected<std::filesystem::path, std::string> Sshd::add_client_key(
    const std::string& name, const std::string& type, const std::string& passphrase) {
    const auto path = dir_ / "keys" / name;
    if (auto made = run_shell("ssh-keygen -q -t " + type + " -N " + shell_quote(passphrase) +
                              " -C " + name + " -f " + shell_quote(path.string()));
        !made) {
        return std::unexpected(made.error());
    }
    std::ifstream pub(path.string() + ".pub");
    std::ostringstream line;
    line << pub.rdbuf();
    std::ofstream keys(dir_ / "authorized_keys", std::ios::app);
    keys << line.str();
    if (!keys) return std::unexpected(std::string("cannot authorize ") + name);
    return path;
}

}  // namespace remote::testing
