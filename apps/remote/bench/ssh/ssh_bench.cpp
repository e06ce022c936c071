// Our SSH session against OpenSSH's client on the same private sshd (run as root):
//   throughput: `head -c 100M /dev/urandom | base64` through a pty, output drained at once;
//   handshake:  start to Connected, against `ssh ... true`.
// Both sides use the same ed25519 client key.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "ssh/known_hosts.h"
#include "ssh/session.h"
#include "sshd_fixture.h"

namespace remote {
namespace {

using namespace std::chrono_literals;
using testing::run_shell;
using testing::shell_quote;
using testing::Sshd;

constexpr const char* kCommand = "head -c 100M /dev/urandom | base64";
// base64 of 100 MiB: 139,810,136 characters in 76-column lines, each ended by "\r\n" on a pty.
constexpr double kPtyBytes = 139810136.0 + 2.0 * 1839608.0;

struct Peer {
    std::unique_ptr<Sshd> sshd;
    std::filesystem::path key;
    std::filesystem::path store;
    std::string error;
};

Peer& peer() {
    static Peer p = [] {
        Peer made;
        auto sshd = Sshd::start();
        if (!sshd) {
            made.error = sshd.error();
            return made;
        }
        made.sshd = std::move(*sshd);
        auto key = made.sshd->add_client_key("bench", "ed25519");
        if (!key) {
            made.error = key.error();
            return made;
        }
        made.key = *key;
        const auto store_dir = made.sshd->dir() / "store";
        std::filesystem::create_directory(store_dir);
        std::filesystem::permissions(store_dir, std::filesystem::perms::owner_all);
        made.store = store_dir / "known-hosts.json";
        const auto listing =
            run_shell("ssh-keygen -lf " + shell_quote(made.sshd->host_key_pub().string()));
        if (!listing) {
            made.error = listing.error();
            return made;
        }
        const auto from = listing->find("SHA256:");
        const HostKeyIdentity identity{"ssh-ed25519",
                                       listing->substr(from, listing->find(' ', from) - from)};
        if (auto pinned = pin_host_key(made.store, "127.0.0.1", made.sshd->port(), identity);
            !pinned) {
            made.error = pinned.error();
        }
        return made;
    }();
    return p;
}

std::string openssh(const std::string& remote_command, const std::string& redirect) {
    const Peer& p = peer();
    return "ssh -F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=no "
           "-o UserKnownHostsFile=/dev/null -o LogLevel=ERROR -i " +
           shell_quote(p.key.string()) + " -p " + std::to_string(p.sshd->port()) + " " +
           p.sshd->user() + "@127.0.0.1 " + remote_command + redirect;
}

std::unique_ptr<SshSession> connect_ours(benchmark::State& state) {
    const Peer& p = peer();
    auto session =
        start_ssh_session(SshStartParams{"127.0.0.1", p.sshd->port(), p.sshd->user(),
                                         SshKeyCredentials{p.key, std::nullopt}, p.store});
    if (!session) {
        state.SkipWithError(session.error().c_str());
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (ssh_status(**session).kind == SessionStatus::Kind::Connecting &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100us);
    }
    if (ssh_status(**session) != SessionStatus::connected()) {
        state.SkipWithError(("not connected: " + ssh_status(**session).text).c_str());
        return nullptr;
    }
    return std::move(*session);
}

bool skip_without_peer(benchmark::State& state) {
    if (!peer().error.empty()) {
        state.SkipWithError(("no sshd: " + peer().error).c_str());
        return true;
    }
    return false;
}

void BM_OursConnect(benchmark::State& state) {
    if (skip_without_peer(state)) return;
    for (auto _ : state) {
        auto session = connect_ours(state);
        if (!session) return;
        state.PauseTiming();
        session.reset();
        std::this_thread::sleep_for(20ms);  // let the old session finish before the next
        state.ResumeTiming();
    }
}

void BM_OpenSshConnect(benchmark::State& state) {
    if (skip_without_peer(state)) return;
    const std::string command = openssh("true", "");
    for (auto _ : state) {
        if (auto ran = run_shell(command); !ran) {
            state.SkipWithError(ran.error().c_str());
            return;
        }
        state.PauseTiming();
        std::this_thread::sleep_for(20ms);
        state.ResumeTiming();
    }
}

// Connect, run the command in the shell and drain output until its end marker.
void BM_OursThroughput(benchmark::State& state) {
    if (skip_without_peer(state)) return;
    double bytes = 0;
    for (auto _ : state) {
        auto session = connect_ours(state);
        if (!session) return;
        // The marker only appears in the output: the echoed command shows the arithmetic.
        const std::string line = std::string("stty -echo; ") + kCommand + "; echo __$((40+2))__\n";
        if (!send_ssh_input(*session,
                            {reinterpret_cast<const std::uint8_t*>(line.data()), line.size()})) {
            state.SkipWithError("input refused");
            return;
        }
        std::string tail;
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        bool done = false;
        while (!done && std::chrono::steady_clock::now() < deadline) {
            auto chunks = take_ssh_output(*session);
            if (chunks.empty()) {
                std::this_thread::sleep_for(50us);
                continue;
            }
            for (const auto& chunk : chunks) {
                bytes += static_cast<double>(chunk.size());
                tail.append(chunk.begin(), chunk.end());
                if (tail.find("__42__") != std::string::npos) done = true;
                if (tail.size() > 64) tail.erase(0, tail.size() - 64);
            }
        }
        if (!done) {
            state.SkipWithError("the command did not finish in time");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_OpenSshThroughput(benchmark::State& state) {
    if (skip_without_peer(state)) return;
    const std::string command = "-tt " + shell_quote(kCommand);
    for (auto _ : state) {
        if (auto ran = run_shell(openssh(command, " > /dev/null")); !ran) {
            state.SkipWithError(ran.error().c_str());
            return;
        }
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(kPtyBytes * static_cast<double>(state.iterations())));
}

BENCHMARK(BM_OursConnect)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_OpenSshConnect)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_OursThroughput)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenSshThroughput)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace remote

BENCHMARK_MAIN();
