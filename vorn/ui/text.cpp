#include "vorn/ui/text.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace vorn_ui {
namespace {

// Counts code points; East Asian wide characters count twice, so the
// approximation stays close to what real fonts lay out.
double approx_columns(std::string_view s) {
    double cols = 0;
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = c;
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (len > 1 && i + len <= s.size()) {
            cp = c & (0x7F >> len);
            for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += static_cast<std::size_t>(len);
        bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                    (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                    (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0x1F300 && cp <= 0x1FAFF);
        cols += wide ? 2 : 1;
    }
    return cols;
}

class ApproximateMetrics final : public FontMetrics {
public:
    double advance(std::string_view text, FontFace face, double size_pt, int weight) const override {
        double em = face == FontFace::Mono ? 0.6 : 0.55 + 0.01 * weight;
        return approx_columns(text) * em * size_pt;
    }
    double line_height(FontFace, double size_pt) const override { return size_pt * 1.25; }
};

std::mutex metrics_mutex;
std::shared_ptr<const FontMetrics>& metrics_slot() {
    static std::shared_ptr<const FontMetrics> slot = std::make_shared<ApproximateMetrics>();
    return slot;
}

}  // namespace

std::shared_ptr<const FontMetrics> install_font_metrics(std::shared_ptr<const FontMetrics> metrics) {
    std::lock_guard lock(metrics_mutex);
    auto previous = metrics_slot();
    metrics_slot() = metrics ? std::move(metrics) : std::make_shared<ApproximateMetrics>();
    return previous;
}

const FontMetrics& font_metrics() {
    std::lock_guard lock(metrics_mutex);
    return *metrics_slot();
}

void TextRenderer::draw_text(Scene& scene, std::string_view text, Point origin, Color color, double size_pt,
                             const Affine& transform) const {
    draw_text_weighted(scene, text, origin, color, size_pt, 0, transform);
}

void TextRenderer::draw_text_weighted(Scene& scene, std::string_view text, Point origin, Color color,
                                      double size_pt, int weight, const Affine& transform) const {
    if (text.empty()) return;
    scene.draw_text(TextRun{std::string(text), origin, color, size_pt, weight, face_, transform});
}

double TextRenderer::measure(std::string_view text, double size_pt) const {
    return measure_weighted(text, size_pt, 0);
}

double TextRenderer::measure_weighted(std::string_view text, double size_pt, int weight) const {
    return font_metrics().advance(text, face_, size_pt, weight);
}

double TextRenderer::line_height(double size_pt) const { return font_metrics().line_height(face_, size_pt); }

}  // namespace vorn_ui
