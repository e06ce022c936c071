// The SSH transport against a real OpenSSH server on 127.0.0.1, plus the parts that need no
// network: credentials from the environment, refusal texts, key files and the input checks.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ssh/credentials.h"
#include "ssh/host_key_check.h"
#include "ssh/known_hosts.h"
#include "ssh/session.h"
#include "ssh/ssh_key_file.h"
#include "sshd_fixture.h"

namespace remote {
namespace {

using namespace std::chrono_literals;
using testing::run_shell;
using testing::shell_quote;
using testing::Sshd;

// Sets (or unsets, with nullopt) environment variables for one scope and restores them after.
class ScopedEnv {
  public:
    ScopedEnv(std::initializer_list<std::pair<const char*, std::optional<std::string>>> vars) {
        for (const auto& [name, value] : vars) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            if (value) {
                ::setenv(name, value->c_str(), 1);
            } else {
                ::unsetenv(name);
            }
        }
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first, it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first);
            }
        }
    }

  private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/remote-ssh-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

void touch(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "key";
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string screen_text(const Terminal& terminal) {
    std::string text;
    for (const auto& row : terminal.screen().grid) {
        for (const Cell& cell : row) text += cell.ch < 0x80 ? static_cast<char>(cell.ch) : '?';
        text += '\n';
    }
    return text;
}

// ---- credentials ------------------------------------------------------------------------------

TEST(SshCredentials, PasswordComesOnlyFromTheEnvironment) {
    const struct {
        const char* label;
        std::optional<std::string> value;
        std::optional<std::string> expected;  // nullopt: the missing-password error
    } cases[] = {
        {"unset", std::nullopt, std::nullopt},
        {"empty is a valid password", "", ""},
        {"plain", "s3cret pass", "s3cret pass"},
        {"not UTF-8", std::string("pa\xff\xfess"), std::nullopt},
        {"surrogate encoded in UTF-8", std::string("\xed\xa0\x80"), std::nullopt},
        {"multibyte UTF-8", std::string("p\xc3\xa4ss \xf0\x9f\x94\x91"),
         std::string("p\xc3\xa4ss \xf0\x9f\x94\x91")},
    };
    for (const auto& c : cases) {
        ScopedEnv env{{"REMOTE_SSH_PASSWORD", c.value}};
        const auto creds = load_ssh_credentials(AuthMethod::Password);
        if (c.expected) {
            ASSERT_TRUE(creds.has_value()) << c.label;
            EXPECT_EQ(std::get<SshPasswordCredentials>(*creds).password, *c.expected) << c.label;
        } else {
            ASSERT_FALSE(creds.has_value()) << c.label;
            EXPECT_EQ(creds.error(), "no SSH password: set REMOTE_SSH_PASSWORD") << c.label;
        }
    }
}

TEST(SshCredentials, KeyFileChoice) {
    TempDir home;
    const auto ed = home.path() / ".ssh/id_ed25519";
    const auto ec = home.path() / ".ssh/id_ecdsa";
    ScopedEnv env{{"HOME", home.path().string()},
                  {"REMOTE_SSH_KEY", std::nullopt},
                  {"REMOTE_SSH_KEY_PASSPHRASE", std::nullopt}};

    auto creds = load_ssh_credentials(AuthMethod::PublicKey);
    ASSERT_FALSE(creds.has_value());
    EXPECT_EQ(creds.error(), "no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519");

    touch(ec);
    creds = load_ssh_credentials(AuthMethod::PublicKey);
    ASSERT_TRUE(creds.has_value());
    EXPECT_EQ(std::get<SshKeyCredentials>(*creds), (SshKeyCredentials{ec, std::nullopt}));

    touch(ed);
    {
        ScopedEnv pass{{"REMOTE_SSH_KEY_PASSPHRASE", "words"}};
        creds = load_ssh_credentials(AuthMethod::PublicKey);
        ASSERT_TRUE(creds.has_value());
        EXPECT_EQ(std::get<SshKeyCredentials>(*creds), (SshKeyCredentials{ed, "words"}));
    }
    {
        // An explicit key is taken as given, even when it does not exist.
        ScopedEnv key{{"REMOTE_SSH_KEY", "/nowhere/key"}};
        creds = load_ssh_credentials(AuthMethod::PublicKey);
        ASSERT_TRUE(creds.has_value());
        EXPECT_EQ(std::get<SshKeyCredentials>(*creds).key_file, "/nowhere/key");
    }
}

TEST(SshCredentials, WithoutHomeKeysAreRelativeToTheWorkingDirectory) {
    TempDir cwd;
    touch(cwd.path() / ".ssh/id_ecdsa");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(cwd.path());
    ScopedEnv env{{"HOME", std::nullopt}, {"REMOTE_SSH_KEY", std::nullopt}};
    const auto creds = load_ssh_credentials(AuthMethod::PublicKey);
    std::filesystem::current_path(previous);
    ASSERT_TRUE(creds.has_value());
    EXPECT_EQ(std::get<SshKeyCredentials>(*creds).key_file, ".ssh/id_ecdsa");
}

// ---- refusal texts and key files ----------------------------------------------------------------

TEST(SshHostKeyCheck, FailureTexts) {
    const HostKeyIdentity a{"ssh-ed25519", "SHA256:aaaa"};
    const HostKeyIdentity b{"ecdsa-sha2-nistp256", "SHA256:bbbb"};
    const struct {
        HostKeyCheck check;
        std::string text;
    } cases[] = {
        {{HostKeyCheck::Unpinned{a}},
         "SSH host key for Server:2222 needs explicit trust: ssh-ed25519 SHA256:aaaa"},
        {{HostKeyCheck::Changed{a, b}},
         "SSH host key changed for Server:2222. Expected ssh-ed25519 SHA256:aaaa; received "
         "ecdsa-sha2-nistp256 SHA256:bbbb. Connection blocked."},
        {{HostKeyCheck::StoreError{"it broke"}}, "SSH host-key store is unavailable: it broke"},
    };
    for (const auto& c : cases) EXPECT_EQ(host_key_failure_text(c.check, "Server", 2222), c.text);
}

TEST(SshKeyFile, LoadFailuresSayWhy) {
    TempDir dir;
    const auto plain = dir.path() / "plain";
    const auto locked = dir.path() / "locked";
    ASSERT_TRUE(run_shell("ssh-keygen -q -t ed25519 -N '' -f " + shell_quote(plain.string())));
    ASSERT_TRUE(
        run_shell("ssh-keygen -q -t ecdsa -N 'open sesame' -f " + shell_quote(locked.string())));
    std::ofstream(dir.path() / "garbage") << "-----BEGIN NOTHING-----\nxx\n";

    EXPECT_TRUE(load_private_key(plain, std::nullopt).has_value());
    EXPECT_TRUE(load_private_key(locked, "open sesame").has_value());

    const struct {
        std::filesystem::path path;
        std::optional<std::string> passphrase;
        std::string error;
    } failures[] = {
        {dir.path() / "missing", std::nullopt, "No such file or directory"},
        {locked, std::nullopt,
         "cannot decode the private key: unsupported format, or it is encrypted and "
         "REMOTE_SSH_KEY_PASSPHRASE is not set"},
        {locked, "wrong", "cannot decode the private key: wrong passphrase or unsupported format"},
        {dir.path() / "garbage", std::nullopt,
         "cannot decode the private key: unsupported format, or it is encrypted and "
         "REMOTE_SSH_KEY_PASSPHRASE is not set"},
        {dir.path(), std::nullopt, "Is a directory"},
    };
    for (const auto& f : failures) {
        const auto key = load_private_key(f.path, f.passphrase);
        ASSERT_FALSE(key.has_value()) << f.path;
        EXPECT_EQ(key.error(), f.error) << f.path;
    }
}

// ---- input checks, with a server that accepts and then never speaks --------------------------

class SilentServer {
  public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    std::uint16_t port() const { return port_; }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

SshStartParams params_for(std::uint16_t port, SshCredentials creds,
                          std::filesystem::path store = "/nonexistent/known-hosts.json") {
    return SshStartParams{"127.0.0.1", port, "nobody", std::move(creds), std::move(store)};
}

TEST(SshInput, RefusalsInOrderWhileTheSessionIsStalled) {
    SilentServer server;
    auto session = start_ssh_session(params_for(server.port(), SshPasswordCredentials{"x"}));
    ASSERT_TRUE(session.has_value()) << session.error();
    SshSession& s = **session;

    EXPECT_EQ(send_ssh_input(s, {}).error(), "SSH input cannot be empty");
    const std::vector<std::uint8_t> too_big(kSshMaxInputBytes + 1, 'a');
    EXPECT_EQ(send_ssh_input(s, too_big).error(),
              "SSH input exceeds the 64 KiB per-operation limit");

    const std::vector<std::uint8_t> largest(kSshMaxInputBytes, 'a');
    EXPECT_TRUE(send_ssh_input(s, largest).has_value());
    auto ack = send_ssh_input_acknowledged(s, bytes_of("x"));
    ASSERT_TRUE(ack.has_value());
    for (std::size_t i = 2; i < kSshInputItems; ++i) {
        ASSERT_TRUE(send_ssh_input(s, bytes_of("k")).has_value()) << i;
    }
    EXPECT_EQ(send_ssh_input(s, bytes_of("k")).error(),
              "SSH input is busy; wait for the remote session to catch up");
    EXPECT_EQ(send_ssh_input_acknowledged(s, bytes_of("k")).error(),
              "SSH input is busy; wait for the remote session to catch up");
    // Oversized input is refused as such even when the queue is full.
    EXPECT_EQ(send_ssh_input(s, too_big).error(),
              "SSH input exceeds the 64 KiB per-operation limit");
    EXPECT_EQ(ssh_status(s), SessionStatus::connecting());
    EXPECT_FALSE(ssh_accepts_input(s));
    EXPECT_EQ(ack->poll().state, SshAckState::Pending);

    // Dropped while the server stays silent: the attempt is abandoned and the queued input
    // with it, so the acknowledgement is dropped unanswered.
    session->reset();
    EXPECT_TRUE(wait_until([&] { return ack->poll().state == SshAckState::Dropped; }));
}

// Accepts one connection, says `script` and hangs up; gives up after ten seconds.
class ScriptedServer {
  public:
    explicit ScriptedServer(std::string script)
        : thread_([this, script] {
              pollfd ready{listener_.fd(), POLLIN, 0};
              if (::poll(&ready, 1, 10000) != 1) return;
              const int peer = ::accept(listener_.fd(), nullptr, nullptr);
              if (peer < 0) return;
              [[maybe_unused]] auto sent = ::send(peer, script.data(), script.size(), MSG_NOSIGNAL);
              char sink[512];
              pollfd in{peer, POLLIN, 0};
              if (::poll(&in, 1, 200) == 1) [[maybe_unused]]
                  auto got = ::recv(peer, sink, sizeof sink, 0);
              ::close(peer);
          }) {}
    ~ScriptedServer() { thread_.join(); }
    std::uint16_t port() const { return listener_.port(); }

  private:
    SilentServer listener_;
    std::thread thread_;
};

TEST(SshConnect, FailuresBeforeTheHandshakeReportConnectAndCloseInput) {
    const std::uint16_t closed_port = [] {
        SilentServer probe;
        return probe.port();
    }();
    ScriptedServer not_ssh("HTTP/1.1 400 Bad Request\r\n\r\n");
    ScriptedServer garbage_after_banner("SSH-2.0-Scripted\r\n" + std::string(64, '\xff'));
    for (const std::uint16_t port : {closed_port, not_ssh.port(), garbage_after_banner.port()}) {
        auto session = start_ssh_session(params_for(port, SshPasswordCredentials{"x"}));
        ASSERT_TRUE(session.has_value());
        SshSession& s = **session;
        ASSERT_TRUE(wait_until([&] { return ssh_status(s).kind == SessionStatus::Kind::Failed; }))
            << port;
        EXPECT_TRUE(ssh_status(s).text.starts_with("connect: ")) << ssh_status(s).text;
        EXPECT_FALSE(ssh_observation(s).has_value());
        ASSERT_TRUE(wait_until([&] { return !send_ssh_input(s, bytes_of("x")).has_value(); }));
        EXPECT_EQ(send_ssh_input(s, bytes_of("x")).error(), "SSH session input channel is closed");
    }
}

// ---- against OpenSSH's sshd ------------------------------------------------------------------

class SshPeer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        auto started = Sshd::start();
        if (started) {
            sshd_ = started->release();
        } else {
            skip_reason_ = new std::string(started.error());
        }
    }
    static void TearDownTestSuite() {
        delete sshd_;
        sshd_ = nullptr;
        delete skip_reason_;
        skip_reason_ = nullptr;
    }

    void SetUp() override {
        if (!sshd_) GTEST_SKIP() << "no OpenSSH peer: " << *skip_reason_;
        store_ = store_dir_.path() / "known-hosts.json";
        ::chmod(store_dir_.path().c_str(), 0700);
    }

    std::uint16_t port() const { return sshd_->port(); }

    // The server key as OpenSSH's own tool fingerprints it, so nothing of ours is trusted blindly.
    HostKeyIdentity server_identity() const {
        const auto listing =
            run_shell("ssh-keygen -lf " + shell_quote(sshd_->host_key_pub().string()));
        EXPECT_TRUE(listing.has_value());
        if (!listing) return {};
        const auto from = listing->find("SHA256:");
        return {"ssh-ed25519", listing->substr(from, listing->find(' ', from) - from)};
    }

    void pin_server() { ASSERT_TRUE(pin_host_key(store_, "127.0.0.1", port(), server_identity())); }

    std::unique_ptr<SshSession> start(SshCredentials creds) {
        auto session = start_ssh_session(
            SshStartParams{"127.0.0.1", port(), sshd_->user(), std::move(creds), store_});
        EXPECT_TRUE(session.has_value());
        return session ? std::move(*session) : nullptr;
    }

    // Waits for the attempt to settle and returns the status it settled on.
    static SessionStatus settle(const SshSession& s) {
        wait_until([&] { return ssh_status(s).kind != SessionStatus::Kind::Connecting; }, 20s);
        return ssh_status(s);
    }

    std::unique_ptr<SshSession> connected_shell() {
        pin_server();
        auto s = start(SshPasswordCredentials{sshd_->password()});
        EXPECT_EQ(settle(*s), SessionStatus::connected());
        return s;
    }

    // Feeds output to the terminal until `text` shows on the screen.
    static bool screen_shows(SshSession& s, const std::string& text) {
        return wait_until([&] {
            pump_ssh_output(s);
            return screen_text(s.terminal()).find(text) != std::string::npos;
        });
    }

    static inline Sshd* sshd_ = nullptr;
    static inline std::string* skip_reason_ = nullptr;
    TempDir store_dir_;
    std::filesystem::path store_;
};

TEST_F(SshPeer, UnknownHostNeedsTrustThenConnectsOncePinned) {
    auto first = start(SshPasswordCredentials{sshd_->password()});
    const SessionStatus failed = settle(*first);
    ASSERT_EQ(failed.kind, SessionStatus::Kind::Failed) << failed.text;

    const HostKeyIdentity observed = server_identity();
    EXPECT_EQ(failed.text, "SSH host key for 127.0.0.1:" + std::to_string(port()) +
                               " needs explicit trust: ssh-ed25519 " + observed.fingerprint);
    const auto observation = ssh_observation(*first);
    ASSERT_TRUE(observation.has_value());
    EXPECT_EQ(*observation, HostKeyCheck{HostKeyCheck::Unpinned{observed}});
    EXPECT_FALSE(std::filesystem::exists(store_)) << "a refused key must not be stored";

    ASSERT_TRUE(pin_host_key(store_, "127.0.0.1", port(), observed));
    auto second = start(SshPasswordCredentials{sshd_->password()});
    EXPECT_EQ(settle(*second), SessionStatus::connected());
    EXPECT_TRUE(ssh_accepts_input(*second));
    EXPECT_FALSE(ssh_observation(*second).has_value());
}

TEST_F(SshPeer, ChangedKeyAndUnreadableStoreBlockTheConnection) {
    const HostKeyIdentity old_pin{"ssh-ed25519",
                                  "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
    ASSERT_TRUE(pin_host_key(store_, "127.0.0.1", port(), old_pin));
    const HostKeyIdentity actual = server_identity();

    auto changed = start(SshPasswordCredentials{sshd_->password()});
    EXPECT_EQ(settle(*changed),
              SessionStatus::failed("SSH host key changed for 127.0.0.1:" + std::to_string(port()) +
                                    ". Expected ssh-ed25519 " + old_pin.fingerprint +
                                    "; received ssh-ed25519 " + actual.fingerprint +
                                    ". Connection blocked."));
    const HostKeyCheck expected{HostKeyCheck::Changed{old_pin, actual}};
    EXPECT_EQ(ssh_observation(*changed), expected);

    // Even the right pin is not trusted from a store others could have written.
    std::filesystem::remove(store_);
    pin_server();
    ::chmod(store_.c_str(), 0640);
    auto exposed = start(SshPasswordCredentials{sshd_->password()});
    EXPECT_EQ(settle(*exposed),
              SessionStatus::failed("SSH host-key store is unavailable: SSH host-key store must "
                                    "not be accessible to group or other users"));
    EXPECT_TRUE(std::holds_alternative<HostKeyCheck::StoreError>(ssh_observation(*exposed)->value));
}

TEST_F(SshPeer, WrongPasswordFailsAuthentication) {
    pin_server();
    auto s = start(SshPasswordCredentials{sshd_->password() + "x"});
    EXPECT_EQ(settle(*s), SessionStatus::failed("Authentication failed"));
    EXPECT_FALSE(ssh_observation(*s).has_value());
}

TEST_F(SshPeer, PublicKeySignIn) {
    pin_server();
    // RSA only works when the signature uses SHA-2: this sshd refuses ssh-rsa (SHA-1) signatures.
    for (const char* type : {"ed25519", "ecdsa", "rsa"}) {
        const auto key = sshd_->add_client_key(std::string("plain-") + type, type);
        ASSERT_TRUE(key.has_value()) << key.error();
        auto s = start(SshKeyCredentials{*key, std::nullopt});
        EXPECT_EQ(settle(*s), SessionStatus::connected()) << type;
    }

    // The ~/.ssh fallback, through the credentials the coordinator would load.
    TempDir home;
    const auto ecdsa = sshd_->add_client_key("home-ecdsa", "ecdsa");
    ASSERT_TRUE(ecdsa.has_value());
    std::filesystem::create_directories(home.path() / ".ssh");
    std::filesystem::copy_file(*ecdsa, home.path() / ".ssh/id_ecdsa");
    ScopedEnv env{{"HOME", home.path().string()},
                  {"REMOTE_SSH_KEY", std::nullopt},
                  {"REMOTE_SSH_KEY_PASSPHRASE", std::nullopt}};
    auto creds = load_ssh_credentials(AuthMethod::PublicKey);
    ASSERT_TRUE(creds.has_value());
    auto s = start(*creds);
    EXPECT_EQ(settle(*s), SessionStatus::connected());

    // A key the server does not know is refused like a wrong password.
    const auto stranger = home.path() / "stranger";
    ASSERT_TRUE(run_shell("ssh-keygen -q -t ed25519 -N '' -f " + shell_quote(stranger.string())));
    auto refused = start(SshKeyCredentials{stranger, std::nullopt});
    EXPECT_EQ(settle(*refused), SessionStatus::failed("Authentication failed"));
}

TEST_F(SshPeer, EncryptedKeyNeedsItsPassphrase) {
    pin_server();
    const auto key = sshd_->add_client_key("locked", "ed25519", "correct horse");
    ASSERT_TRUE(key.has_value());

    auto with = start(SshKeyCredentials{*key, "correct horse"});
    EXPECT_EQ(settle(*with), SessionStatus::connected());

    auto without = start(SshKeyCredentials{*key, std::nullopt});
    EXPECT_EQ(settle(*without),
              SessionStatus::failed("load key " + key->string() +
                                    ": cannot decode the private key: unsupported format, or it "
                                    "is encrypted and REMOTE_SSH_KEY_PASSPHRASE is not set"));
    auto missing = start(SshKeyCredentials{sshd_->dir() / "keys/none", std::nullopt});
    EXPECT_EQ(settle(*missing),
              SessionStatus::failed("load key " + (sshd_->dir() / "keys/none").string() +
                                    ": No such file or directory"));
}

TEST_F(SshPeer, ShellRoundTripThenExitCloses) {
    auto s = connected_shell();
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("echo $TERM-$((6*7))\n")));
    EXPECT_TRUE(screen_shows(*s, "xterm-256color-42")) << screen_text(s->terminal());
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("stty size\n")));
    EXPECT_TRUE(screen_shows(*s, "24 80")) << screen_text(s->terminal());

    ASSERT_TRUE(send_ssh_input(*s, bytes_of("exit 3\n")));
    EXPECT_TRUE(wait_until([&] { return ssh_status(*s) == SessionStatus::closed(); }))
        << ssh_status(*s).text;
    EXPECT_FALSE(ssh_accepts_input(*s));
    EXPECT_TRUE(wait_until([&] { return !send_ssh_input(*s, bytes_of("x")).has_value(); }));
    EXPECT_EQ(send_ssh_input(*s, bytes_of("x")).error(), "SSH session input channel is closed");
}

TEST_F(SshPeer, SilenceClosesTheSession) {
    pin_server();
    SshStartParams params{"127.0.0.1", port(), sshd_->user(),
                          SshPasswordCredentials{sshd_->password()}, store_};
    params.inactivity_limit = 700ms;
    auto session = start_ssh_session(std::move(params));
    ASSERT_TRUE(session.has_value());
    SshSession& s = **session;
    ASSERT_EQ(settle(s), SessionStatus::connected());
    // Typing keeps it open past the limit...
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(send_ssh_input(s, bytes_of(":\n")));
        std::this_thread::sleep_for(200ms);
        pump_ssh_output(s);
    }
    EXPECT_EQ(ssh_status(s), SessionStatus::connected());
    // ...and silence closes it.
    EXPECT_TRUE(wait_until([&] { return ssh_status(s) == SessionStatus::closed(); }, 5s));
}

TEST_F(SshPeer, LostConnectionCloses) {
    auto s = connected_shell();
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("echo up\n")));
    ASSERT_TRUE(screen_shows(*s, "up"));
    // The server side of this session runs as the test user: kill it without a goodbye.
    const passwd* account = ::getpwnam(sshd_->user().c_str());
    ASSERT_NE(account, nullptr);
    int killed = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        struct stat st {};
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            ::stat(entry.path().c_str(), &st) != 0 || st.st_uid != account->pw_uid) {
            continue;
        }
        if (::kill(std::stoi(name), SIGKILL) == 0) ++killed;
    }
    ASSERT_GT(killed, 0);
    // Typing into the dead connection must not hurt (no SIGPIPE, no Failed).
    for (int i = 0; i < 20 && ssh_status(*s) == SessionStatus::connected(); ++i) {
        (void)send_ssh_input(*s, bytes_of("x"));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(wait_until([&] { return ssh_status(*s) == SessionStatus::closed(); }))
        << ssh_status(*s).text;
}

std::size_t open_descriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

TEST_F(SshPeer, EndedSessionsLeaveNoDescriptorsBehind) {
    pin_server();
    const std::size_t before = open_descriptors();
    {
        auto refused = start(SshPasswordCredentials{"wrong"});
        EXPECT_EQ(settle(*refused), SessionStatus::failed("Authentication failed"));
        auto closed = start(SshPasswordCredentials{sshd_->password()});
        ASSERT_EQ(settle(*closed), SessionStatus::connected());
        ASSERT_TRUE(send_ssh_input(*closed, bytes_of("exit\n")));
        ASSERT_TRUE(wait_until([&] { return ssh_status(*closed) == SessionStatus::closed(); }));
        auto dropped = start(SshPasswordCredentials{sshd_->password()});
        ASSERT_EQ(settle(*dropped), SessionStatus::connected());
    }
    // Workers end on their own after their handles are gone.
    EXPECT_TRUE(wait_until([&] { return open_descriptors() <= before; }))
        << open_descriptors() << " open, " << before << " before";
}

TEST_F(SshPeer, DroppingTheHandleSendsEndOfFileThenDisconnect) {
    auto s = connected_shell();
    // Leave a marker in the log so only this session's lines count.
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("echo ready\n")));
    ASSERT_TRUE(screen_shows(*s, "ready"));
    const std::size_t log_start = sshd_->log().size();
    s.reset();

    std::string log;
    const bool disconnected = wait_until([&] {
        log = sshd_->log().substr(log_start);
        return log.find("Received disconnect from 127.0.0.1") != std::string::npos;
    });
    ASSERT_TRUE(disconnected) << log;
    const auto eof = log.find("rcvd eof");
    const auto bye = log.find("Received disconnect from 127.0.0.1");
    EXPECT_NE(eof, std::string::npos) << log;
    EXPECT_LT(eof, bye) << log;
    // Reason 11: disconnected by application.
    const std::string line = log.substr(bye, log.find('\n', bye) - bye);
    EXPECT_NE(line.find(":11: "), std::string::npos) << line;
}

TEST_F(SshPeer, LargestInputIsDeliveredAndAcknowledged) {
    auto s = connected_shell();
    // Raw mode so the 64 KiB arrive unchanged; wc counts them on the far side.
    ASSERT_TRUE(
        send_ssh_input(*s, bytes_of("stty raw -echo; echo raw-$((2+2)); head -c 65536 | wc -c\n")));
    ASSERT_TRUE(screen_shows(*s, "raw-4"));
    const std::vector<std::uint8_t> block(kSshMaxInputBytes, 'z');
    auto ack = send_ssh_input_acknowledged(*s, block);
    ASSERT_TRUE(ack.has_value()) << ack.error();
    EXPECT_TRUE(wait_until([&] { return ack->poll().state != SshAckState::Pending; }));
    EXPECT_EQ(ack->poll().state, SshAckState::Delivered);
    EXPECT_TRUE(screen_shows(*s, "65536")) << screen_text(s->terminal());
}

TEST_F(SshPeer, InputGetsThroughWhileOutputFloods) {
    auto s = connected_shell();
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("stty -echo; yes flood-$((2+3))\n")));
    std::string seen;
    auto drain_until = [&](const std::string& text) {
        return wait_until([&] {
            for (const auto& chunk : take_ssh_output(*s)) {
                seen.append(chunk.begin(), chunk.end());
                if (seen.size() > 4096) seen.erase(0, seen.size() - 4096);
            }
            return seen.find(text) != std::string::npos;
        });
    };
    ASSERT_TRUE(drain_until("flood-5\r\nflood-5"));
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("\x03")));
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("echo stopped-$((1+1))\n")));
    EXPECT_TRUE(drain_until("stopped-2"));
}

TEST_F(SshPeer, OutputWaitsInOrderWhileNothingPumps) {
    auto s = connected_shell();
    ASSERT_TRUE(send_ssh_input(*s, bytes_of("stty -echo; seq 1 200000; echo done-$((1+1))\n")));
    // Nobody drains: exactly the queue's capacity waits and reading stops.
    ASSERT_TRUE(wait_until([&] { return ssh_output_waiting(*s) == kSshOutputChunks; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ssh_output_waiting(*s), kSshOutputChunks);

    std::string all;
    wait_until(
        [&] {
            for (const auto& chunk : take_ssh_output(*s)) all.append(chunk.begin(), chunk.end());
            return all.find("done-2") != std::string::npos;
        },
        30s);
    std::string expected;
    for (int i = 1; i <= 200000; ++i) expected += std::to_string(i) + "\r\n";
    const auto first = all.find("1\r\n2\r\n3\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(all.substr(first, expected.size()), expected);
}

}  // namespace
}  // namespace remote
