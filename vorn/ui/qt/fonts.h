#pragma once
// Real font metrics for the platform's two faces (DejaVu Sans, DejaVu Sans
// Mono), sized so one point is one view unit on every paint device. UI thread
// only (Qt fonts need the QGuiApplication).

#include <QFont>

#include "vorn/ui/text.h"

namespace vorn_ui::qt {

// The font for a run painted on a device of `dpi` dots per inch: its pixel
// size is `size_pt` whatever the resolution; the mono face is spaced to 0.6 em.
QFont font_for(FontFace face, double size_pt, int weight, int dpi);

class QtFontMetrics final : public FontMetrics {
  public:
    double advance(std::string_view text, FontFace face, double size_pt, int weight) const override;
    double line_height(FontFace face, double size_pt) const override;
    double ascent(FontFace face, double size_pt, int weight) const;
};

}  // namespace vorn_ui::qt
