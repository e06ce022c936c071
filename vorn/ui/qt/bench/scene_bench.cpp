// Costs on the paint path: measuring text with the real fonts (layout does it
// many times a frame), painting the example's full frame, and a full-window
// faded overlay drawn apart and composited.
#include <benchmark/benchmark.h>

#include <memory>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "vorn/ui/examples/example_app.h"
#include "vorn/ui/qt/fonts.h"
#include "vorn/ui/qt/painter_scene.h"

namespace {

using namespace vorn_ui;

void measure_label(benchmark::State& state) {
    qt::QtFontMetrics metrics;
    for (auto _ : state) {
        benchmark::DoNotOptimize(metrics.advance("build-server.example.net", FontFace::Ui, 14, 0));
    }
}
BENCHMARK(measure_label);

void measure_terminal_row(benchmark::State& state) {
    qt::QtFontMetrics metrics;
    std::string row(80, 'x');
    for (auto _ : state) benchmark::DoNotOptimize(metrics.advance(row, FontFace::Mono, 14, 0));
}
BENCHMARK(measure_terminal_row);

void paint_example_frame(benchmark::State& state) {
    example::ExampleApp app;
    QImage image(1280, 800, QImage::Format_ARGB32_Premultiplied);
    app.layout({0, 0, 1280, 800});
    for (auto _ : state) {
        QPainter painter(&image);
        qt::PainterScene scene(painter);
        app.paint(scene);
    }
}
BENCHMARK(paint_example_frame)->Unit(benchmark::kMicrosecond);

void faded_overlay(benchmark::State& state) {
    QImage image(1280, 800, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        qt::PainterScene scene(painter);
        scene.push_layer(Rect{0, 0, 1280, 800}, 0.6);
        scene.fill(Rect{0, 0, 1280, 800}, Color::rgb(0x000000));
        scene.fill(RoundedRect{{440, 250, 840, 550}, 12}, Color::rgb(0x232731));
        scene.pop_layer();
    }
}
BENCHMARK(faded_overlay)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qt_argc = 1;
    QApplication app(qt_argc, argv);
    install_font_metrics(std::make_shared<qt::QtFontMetrics>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    install_font_metrics(nullptr);
    return 0;
}
