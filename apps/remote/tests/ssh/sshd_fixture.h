#pragma once
// A private OpenSSH server on 127.0.0.1 for the SSH tests and benchmarks: its own config, host
// key, authorized keys and a throwaway local user with a password, all removed when it stops.
// Needs root (sshd and useradd). Not thread-safe; one instance per test program.

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>

namespace remote::testing {

// Runs a shell command; returns its standard output, or a text with its exit status and output.
std::expected<std::string, std::string> run_shell(const std::string& command);
std::string shell_quote(const std::string& text);

class Sshd {
  public:
    // Fails with a reason (not root, sshd missing, ...) that a test can show when it skips.
    static std::expected<std::unique_ptr<Sshd>, std::string> start();
    ~Sshd();
    Sshd(const Sshd&) = delete;
    Sshd& operator=(const Sshd&) = delete;

    std::uint16_t port() const { return port_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path host_key_pub() const { return dir_ / "host_ed25519_key.pub"; }
    // Everything sshd has written to its log (stderr) so far.
    std::string log() const;

    // Generates a client key in dir()/keys (ssh-keygen -t type, optional passphrase) and
    // authorizes it; returns the private key's path.
    std::expected<std::filesystem::path, std::string> add_client_key(
        const std::string& name, const std::string& type, const std::string& passphrase = "");

  private:
    Sshd() = default;
    std::expected<void, std::string> launch();

    std::filesystem::path dir_;
    std::string user_;
    std::string password_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
    bool user_created_ = false;
};

}  // namespace remote::testing
