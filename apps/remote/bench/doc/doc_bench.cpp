// The connections document at 10,000 profiles: opening it from disk and reconciling memory with
// it, reading it, and upserting one profile into it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "doc/connections.h"
#include "vorn/doc/persist.h"

namespace {

namespace fs = std::filesystem;
using namespace remote;
using vorn_ui::doc::Document;

constexpr int kProfiles = 10'000;

ConnectionProfile nth_profile(int i) {
    ConnectionProfile p;
    p.id = Uuid::random();
    p.name = "Machine " + std::to_string(i);
    p.host = "host-" + std::to_string(i) + ".lab.lan";
    p.port = static_cast<std::uint16_t>(22 + i % 3);
    p.user = "admin";
    p.kind = static_cast<ConnectionKind>(i % 4);
    p.group = i % 2 ? "lab" : "prod";
    p.last_used = "2h ago";
    p.favorite = i % 10 == 0;
    return p;
}

// A document grown one profile per change, as a user adding machines over time would.
Document& big_document() {
    static Document doc = [] {
        Document d;
        for (int i = 0; i < kProfiles; ++i) {
            write_profile(d, nth_profile(i));
            d.commit();
        }
        return d;
    }();
    return doc;
}

// The same document as an actor log in a private directory, written once per run.
const vorn_ui::persist::Location& on_disk() {
    static vorn_ui::persist::Location loc = [] {
        std::string tmpl = (fs::temp_directory_path() / "remote-doc-bench-XXXXXX").string();
        fs::path root = ::mkdtemp(tmpl.data());
        vorn_ui::persist::Location l{root / "connections", root / "state"};
        fs::create_directories(l.data_dir);
        auto bytes = vorn_ui::persist::log_header();
        Document& d = big_document();
        for (const auto& c : d.get_changes()) {
            auto rec = vorn_ui::persist::log_record(vorn_ui::doc::encode_change(c));
            bytes.insert(bytes.end(), rec.begin(), rec.end());
        }
        std::ofstream(l.data_dir / (vorn_ui::doc::to_hex(d.actor_id()) + ".log"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        std::atexit([] { fs::remove_all(on_disk().data_dir.parent_path()); });
        return l;
    }();
    return loc;
}

void BM_OpenAndReconcile10k(benchmark::State& state) {
    const auto& loc = on_disk();
    for (auto _ : state) {
        auto store = vorn_ui::persist::Store::open_at(loc, [](std::string_view) {});
        if (!store) {
            state.SkipWithError(store.error().c_str());
            return;
        }
        bool synced = false;
        std::vector<ConnectionProfile> profiles;
        std::string search;
        std::optional<Uuid> selected, session;
        auto out =
            sync_with_document({synced, profiles, search, selected, session}, (*store)->document());
        if (profiles.size() != kProfiles) state.SkipWithError("profiles missing");
        benchmark::DoNotOptimize(out);
    }
    std::uintmax_t bytes = 0;
    for (const auto& f : fs::directory_iterator(loc.data_dir)) bytes += f.file_size();
    state.counters["log_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_OpenAndReconcile10k)->Unit(benchmark::kMillisecond);

void BM_LoadProfiles10k(benchmark::State& state) {
    Document& d = big_document();
    for (auto _ : state) benchmark::DoNotOptimize(load_profiles(d));
}
BENCHMARK(BM_LoadProfiles10k)->Unit(benchmark::kMillisecond);

void BM_UpsertOneInto10k(benchmark::State& state) {
    Document& d = big_document();
    const std::vector<ConnectionProfile> all = load_profiles(d);
    std::size_t i = 0;
    for (auto _ : state) {
        // Each iteration edits the name of the next machine in turn, as a user would: one small
        // change each time, without piling every edit onto one text.
        const ConnectionProfile& p = all[i % all.size()];
        bool edited = (i / all.size()) % 2 == 0;
        RemoteAction::UpsertConnection up{
            p.id,   edited ? p.name + " (edited)" : p.name, p.host, p.port, p.user, p.kind, p.auth,
            p.group};
        ++i;
        (void)d.transact([&](Document& doc) { return apply_remote_action(up, doc); });
    }
}
BENCHMARK(BM_UpsertOneInto10k)->Unit(benchmark::kMillisecond);

void BM_UpsertUnchangedInto10k(benchmark::State& state) {
    Document& d = big_document();
    ConnectionProfile p = load_profiles(d)[kProfiles / 3];
    RemoteAction::UpsertConnection up{p.id,   p.name, p.host, p.port,
                                      p.user, p.kind, p.auth, p.group};
    for (auto _ : state) {
        (void)d.transact([&](Document& doc) { return apply_remote_action(up, doc); });
    }
}
BENCHMARK(BM_UpsertUnchangedInto10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
