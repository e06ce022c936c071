#include "vorn/ui/scene.h"

// g++ 12 at -O3 reports the inactive alternatives of a moved-from
// variant-of-variants as "maybe uninitialized" when recording items; the
// moves are well-defined, so the false positive is silenced for this file only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vorn_ui {

void RecordingScene::fill(const Shape& s, Color c, const Affine& t) { items.push_back(Fill{s, c, t}); }

void RecordingScene::stroke(const Shape& s, Color c, double w, const Affine& t) {
    items.push_back(Stroke{s, c, w, t});
}

void RecordingScene::push_layer(const Shape& clip, double opacity, Blend blend) {
    items.push_back(PushLayer{clip, opacity, blend});
}

void RecordingScene::pop_layer() { items.push_back(PopLayer{}); }

void RecordingScene::draw_image(const Image& i, const Rect& d, bool smooth) {
    items.push_back(DrawImage{i, d, smooth});
}

void RecordingScene::draw_text(const TextRun& run) { items.push_back(run); }

std::vector<TextRun> RecordingScene::texts() const {
    std::vector<TextRun> out;
    for (const auto& item : items) {
        if (const auto* t = std::get_if<TextRun>(&item)) out.push_back(*t);
    }
    return out;
}

}  // namespace vorn_ui
