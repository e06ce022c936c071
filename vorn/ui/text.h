#pragma once
// Text drawing and measuring. Drawing emits text runs into a Scene; measuring
// asks the installed font metrics (the Qt backend installs real ones at
// start-up; without it a fixed approximation serves, so layout code and tests
// run without a toolkit). UI thread only.

#include <memory>
#include <string_view>

#include "vorn/ui/scene.h"

namespace vorn_ui {

// Advance widths of a face. Implementations must be deterministic.
class FontMetrics {
public:
    virtual ~FontMetrics() = default;
    // Advance width of `text` (UTF-8) in view units.
    virtual double advance(std::string_view text, FontFace face, double size_pt, int weight) const = 0;
    // Height of one line (ascent + descent) in view units.
    virtual double line_height(FontFace face, double size_pt) const = 0;
};

// Replaces the process-wide metrics; the previous ones are returned.
std::shared_ptr<const FontMetrics> install_font_metrics(std::shared_ptr<const FontMetrics> metrics);
const FontMetrics& font_metrics();

class TextRenderer {
public:
    explicit TextRenderer(FontFace face = FontFace::Ui) : face_(face) {}

    // The monospace face, whose advance is 0.6 em (8.4 units at 14 pt).
    static TextRenderer mono() { return TextRenderer(FontFace::Mono); }

    void draw_text(Scene& scene, std::string_view text, Point origin, Color color, double size_pt,
                   const Affine& transform = {}) const;
    void draw_text_weighted(Scene& scene, std::string_view text, Point origin, Color color,
                            double size_pt, int weight, const Affine& transform = {}) const;
    double measure(std::string_view text, double size_pt) const;
    double measure_weighted(std::string_view text, double size_pt, int weight) const;
    double line_height(double size_pt) const;
    FontFace face() const { return face_; }

private:
    FontFace face_;
};

}  // namespace vorn_ui
