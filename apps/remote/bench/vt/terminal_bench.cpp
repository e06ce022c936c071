// Feeding throughput of the terminal, side by side with libvterm's screen layer on the same
// generated output, in the 4 KiB chunks an SSH channel delivers. Prints MB/s of both and the
// ratio per corpus.

#include <benchmark/benchmark.h>
#include <vterm.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "vt/terminal.h"

namespace {

constexpr std::size_t kCorpusBytes = 24u << 20;
constexpr std::size_t kChunk = 4096;

// Plain text lines, as from cat or a build log.
std::string ascii_corpus() {
    std::mt19937 rng(1);
    std::string out;
    out.reserve(kCorpusBytes + 256);
    while (out.size() < kCorpusBytes) {
        const std::size_t len = 20 + rng() % 60;
        for (std::size_t i = 0; i < len; ++i) {
            out += (rng() % 6 == 0) ? ' ' : static_cast<char>('a' + rng() % 26);
        }
        out += "\r\n";
    }
    return out;
}

// Colourful full-screen output: short words between SGR changes, cursor positioning and
// erasing, as from ls --color, top or a syntax-highlighting pager.
std::string sgr_corpus() {
    static const char* const sgr[] = {
        "\x1b[0m",         "\x1b[1m",        "\x1b[22m",
        "\x1b[31m",        "\x1b[1;32m",     "\x1b[94m",
        "\x1b[39m",        "\x1b[38;5;208m", "\x1b[38;2;10;200;30m",
        "\x1b[0;1;36;44m", "\x1b[m",         "\x1b[97;100m",
    };
    std::mt19937 rng(2);
    std::string out;
    out.reserve(kCorpusBytes + 256);
    while (out.size() < kCorpusBytes) {
        switch (rng() % 8) {
            case 0: {
                const auto row = 1 + rng() % 24;
                const auto col = 1 + rng() % 80;
                out += "\x1b[" + std::to_string(row) + ";" + std::to_string(col) + "H";
                break;
            }
            case 1:
                out += "\x1b[K";
                break;
            case 2:
                out += "\x1b[" + std::to_string(1 + rng() % 8) + "C";
                break;
            case 3:
                out += "\r\n";
                break;
            default:
                out += sgr[rng() % std::size(sgr)];
                break;
        }
        const std::size_t len = 2 + rng() % 10;
        for (std::size_t i = 0; i < len; ++i) out += static_cast<char>('a' + rng() % 26);
    }
    return out;
}

// Text in accented Latin and CJK scripts.
std::string utf8_corpus() {
    static const char* const words[] = {
        "caf\xc3\xa9",
        "na\xc3\xafve",
        "\xc3\x86r\xc3\xb8sk\xc3\xb8"
        "bing",
        "Stra\xc3\x9f"
        "e",
        "\xc5\x81\xc3\xb3"
        "d\xc5\xba",
        "se\xc3\xb1or",
        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
        "\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97\xe7\xac\xa6",
        "\xe3\x83\x86\xe3\x82\xad\xe3\x82\xb9\xe3\x83\x88",
        "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4",
    };
    std::mt19937 rng(3);
    std::string out;
    out.reserve(kCorpusBytes + 256);
    while (out.size() < kCorpusBytes) {
        std::size_t col = 0;
        while (col < 60) {
            out += words[rng() % std::size(words)];
            out += ' ';
            col += 8;
        }
        out += "\r\n";
    }
    return out;
}

const std::string& corpus(int which) {
    static const std::string corpora[] = {ascii_corpus(), sgr_corpus(), utf8_corpus()};
    return corpora[which];
}

const char* const kCorpusNames[] = {"ascii", "sgr", "utf8"};

template <typename Sink>
void feed_in_chunks(const std::string& data, Sink&& sink) {
    for (std::size_t at = 0; at < data.size(); at += kChunk) {
        sink(data.data() + at, std::min(kChunk, data.size() - at));
    }
}

void BM_Terminal(benchmark::State& state) {
    const std::string& data = corpus(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        remote::Terminal terminal(80, 24);
        feed_in_chunks(data, [&](const char* p, std::size_t n) {
            terminal.feed({reinterpret_cast<const std::uint8_t*>(p), n});
        });
        benchmark::DoNotOptimize(terminal.screen().grid[0][0]);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
    state.SetLabel(kCorpusNames[state.range(0)]);
}

void BM_Libvterm(benchmark::State& state) {
    const std::string& data = corpus(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        VTerm* vt = vterm_new(24, 80);
        vterm_set_utf8(vt, 1);
        VTermScreen* screen = vterm_obtain_screen(vt);
        vterm_screen_reset(screen, 1);
        feed_in_chunks(data, [&](const char* p, std::size_t n) { vterm_input_write(vt, p, n); });
        VTermScreenCell cell;
        vterm_screen_get_cell(screen, VTermPos{0, 0}, &cell);
        benchmark::DoNotOptimize(cell);
        vterm_free(vt);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
    state.SetLabel(kCorpusNames[state.range(0)]);
}

BENCHMARK(BM_Terminal)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Libvterm)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The console report plus, at the end, one line per corpus comparing the two.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end() || run.report_label.empty()) continue;
            const bool ours = run.benchmark_name().starts_with("BM_Terminal");
            (ours ? ours_ : theirs_)[run.report_label] = it->second.value / 1e6;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-8s %14s %14s %8s\n", "corpus", "remote MB/s", "libvterm MB/s", "ratio");
        for (const auto& [name, ours] : ours_) {
            const auto it = theirs_.find(name);
            if (it == theirs_.end()) continue;
            std::printf("%-8s %14.1f %14.1f %7.1fx\n", name.c_str(), ours, it->second,
                        ours / it->second);
        }
    }

  private:
    std::map<std::string, double> ours_;
    std::map<std::string, double> theirs_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
