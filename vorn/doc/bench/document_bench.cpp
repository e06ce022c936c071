// The document engine on long texts: a large paste arriving from another replica, and typing
// into the middle of a long text.
#include <benchmark/benchmark.h>

#include <string>

#include "vorn/doc/document.h"

namespace {

using namespace vorn_ui::doc;

void BM_ApplyRemotePaste(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    Document source;
    auto t = source.put_object(ObjId::root(), "t", ObjType::Text).value();
    (void)source.splice_text(t, 0, 0, "start end");
    source.commit();
    auto base = source.get_changes();
    (void)source.splice_text(t, 6, 0, std::string(n, 'x'));
    std::vector<Change> paste = {source.get_changes().back()};
    for (auto _ : state) {
        Document d;
        (void)d.apply_changes(base);
        auto r = d.apply_changes(paste);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_ApplyRemotePaste)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_TypeIntoLongText(benchmark::State& state) {
    Document d;
    auto t = d.put_object(ObjId::root(), "t", ObjType::Text).value();
    (void)d.splice_text(t, 0, 0, std::string(100'000, 'x'));
    d.commit();
    std::size_t pos = 50'000;
    for (auto _ : state) {
        (void)d.splice_text(t, pos++, 0, "y");
        d.commit();
    }
}
BENCHMARK(BM_TypeIntoLongText);

}  // namespace

BENCHMARK_MAIN();
