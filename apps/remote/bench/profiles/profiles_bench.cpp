// The list's per-paint work: filtering and ordering every saved profile, and validating the form.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "profiles/form.h"
#include "profiles/listing.h"

namespace {

std::vector<remote::ConnectionProfile> make_profiles(std::size_t n) {
    static const char* const kNames[] = {"Build server", "österreich-01", "ΔΕΛΤΑ gateway",
                                         "media box",    "Jump host",     "NAS"};
    std::vector<remote::ConnectionProfile> profiles(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto& p = profiles[i];
        p.id = remote::Uuid::random();
        p.name = std::string(kNames[i % 6]) + " " + std::to_string(i * 7919 % n);
        p.host = "host-" + std::to_string(i) + ".example.net";
        p.user = i % 3 ? "admin" : "";
        p.group = i % 5 ? "lab" : "Büro";
        p.kind = static_cast<remote::ConnectionKind>(i % 4);
        p.favorite = i % 11 == 0;
    }
    return profiles;
}

void BM_VisibleProfiles(benchmark::State& state, const char* query) {
    const auto profiles = make_profiles(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(remote::visible_profiles(profiles, query));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(BM_VisibleProfiles, no_query, "")->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK_CAPTURE(BM_VisibleProfiles, query, "  LAB ")->Arg(100)->Arg(1000)->Arg(10000);

void BM_ValidateVornForm(benchmark::State& state) {
    remote::ConnectionForm form = remote::new_form();
    form.name = "Tablet";
    remote::change_form_kind(form, remote::ConnectionKind::Vorn);
    form.host = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
    for (auto _ : state) benchmark::DoNotOptimize(remote::validate_form(form));
}
BENCHMARK(BM_ValidateVornForm);

}  // namespace

BENCHMARK_MAIN();
