#include "vorn/ui/qt/fonts.h"

#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <unordered_map>

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>

namespace vorn_ui::qt {
namespace {

QFont::Weight qt_weight(int weight) {
    switch (weight) {
        case 1:
            return QFont::Medium;
        case 2:
            return QFont::DemiBold;
        default:
            return weight >= 3 ? QFont::Bold : QFont::Normal;
    }
}

QFont base_font(FontFace face, double size_pt, int weight, int dpi) {
    QFont font(face == FontFace::Mono ? QStringLiteral("DejaVu Sans Mono")
                                      : QStringLiteral("DejaVu Sans"));
    font.setStyleHint(face == FontFace::Mono ? QFont::TypeWriter : QFont::SansSerif);
    // Unhinted outlines keep advances proportional to the size, so what
    // layout measured is what gets painted at any scale.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setWeight(qt_weight(weight));
    // Qt turns points into pixels with the device's resolution; undo it so
    // one point is one view unit everywhere.
    font.setPointSizeF(size_pt * 72.0 / double(dpi > 0 ? dpi : 72));
    return font;
}

// Qt resolves fonts against the screen's resolution unless told otherwise,
// and a font carried over to a device of another resolution loses its letter
// spacing, so measuring happens at that resolution too.
int default_dpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    int dpi = screen ? int(std::lround(screen->logicalDotsPerInchY())) : 96;
    return dpi > 0 ? dpi : 96;
}

struct Entry {
    QFont font;
    QFontMetricsF metrics;
};

std::mutex cache_mutex;
std::map<std::tuple<int, int, double>, Entry> cache;
std::unordered_map<std::string, double> advances;

// Fonts must not outlive the application that loaded them.
void release_cache() {
    std::lock_guard lock(cache_mutex);
    cache.clear();
    advances.clear();
}

const Entry& measured(FontFace face, double size_pt, int weight) {
    static const bool registered = [] {
        qAddPostRoutine(release_cache);
        return true;
    }();
    (void)registered;
    auto key = std::make_tuple(int(face), weight, size_pt);
    std::lock_guard lock(cache_mutex);
    auto it = cache.find(key);
    if (it == cache.end()) {
        // Sizes come from layout code and may vary continuously; keep the
        // cache bounded.
        if (cache.size() > 256) cache.clear();
        QFont font = font_for(face, size_pt, weight, default_dpi());
        it = cache.emplace(key, Entry{font, QFontMetricsF(font)}).first;
    }
    return it->second;
}

}  // namespace

QFont font_for(FontFace face, double size_pt, int weight, int dpi) {
    QFont font = base_font(face, size_pt, weight, dpi);
    if (face == FontFace::Mono) {
        // Terminal grids are laid out at 0.6 em a cell; the face's own advance
        // is a hair wider, so close the gap with letter spacing. Qt keeps
        // advances in 1/64 units, so correct until the nearest is reached.
        QFont probe = base_font(face, size_pt, weight, default_dpi());
        const double target = 0.6 * size_pt;
        double spacing = 0;
        for (int round = 0; round < 3; ++round) {
            double measured =
                QFontMetricsF(probe).horizontalAdvance(QStringLiteral("MMMMMMMM")) / 8;
            if (std::abs(measured - target) < 1.0 / 128) break;
            spacing += target - measured;
            probe.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        }
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    }
    return font;
}

double QtFontMetrics::advance(std::string_view text, FontFace face, double size_pt,
                              int weight) const {
    if (text.empty() || !(size_pt > 0) || !std::isfinite(size_pt)) return 0;
    // Layout measures the same labels every frame; shaping them again each
    // time costs microseconds apiece.
    std::string key;
    key.reserve(text.size() + 24);
    key.append(reinterpret_cast<const char*>(&size_pt), sizeof size_pt);
    key.push_back(char(face));
    key.push_back(char(weight));
    key.append(text);
    {
        std::lock_guard lock(cache_mutex);
        if (auto it = advances.find(key); it != advances.end()) return it->second;
    }
    double width =
        measured(face, size_pt, weight)
            .metrics.horizontalAdvance(QString::fromUtf8(text.data(), qsizetype(text.size())));
    std::lock_guard lock(cache_mutex);
    if (advances.size() >= 4096) advances.clear();
    advances.emplace(std::move(key), width);
    return width;
}

double QtFontMetrics::line_height(FontFace face, double size_pt) const {
    if (!(size_pt > 0) || !std::isfinite(size_pt)) return 0;
    const auto& m = measured(face, size_pt, 0).metrics;
    return m.ascent() + m.descent();
}

double QtFontMetrics::ascent(FontFace face, double size_pt, int weight) const {
    if (!(size_pt > 0) || !std::isfinite(size_pt)) return 0;
    return measured(face, size_pt, weight).metrics.ascent();
}

}  // namespace vorn_ui::qt
