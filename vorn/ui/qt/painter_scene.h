#pragma once
// The Scene backend over a QPainter: shapes, clip layers with group opacity
// and blend modes, shared RGBA images without copies, and text runs.
// UI thread only; the painter must outlive the scene.

#include <memory>
#include <vector>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include "vorn/ui/scene.h"

namespace vorn_ui::qt {

QPainterPath to_path(const Shape& shape);
QColor to_qcolor(Color c);
QTransform to_qtransform(const Affine& t);

class PainterScene final : public Scene {
  public:
    explicit PainterScene(QPainter& painter);
    // Composites any layer left open, so an unbalanced paint cannot lose drawing.
    ~PainterScene() override;
    PainterScene(const PainterScene&) = delete;
    PainterScene& operator=(const PainterScene&) = delete;

    void fill(const Shape& shape, Color color, const Affine& transform = {}) override;
    void stroke(const Shape& shape, Color color, double width,
                const Affine& transform = {}) override;
    void push_layer(const Shape& clip, double opacity = 1.0, Blend blend = Blend::Normal) override;
    void pop_layer() override;
    void draw_image(const Image& image, const Rect& dest, bool smooth = true) override;
    void draw_text(const TextRun& run) override;

  private:
    struct Layer {
        // Set for layers drawn apart and composited on pop (opacity or blend).
        std::unique_ptr<QImage> image;
        std::unique_ptr<QPainter> painter;
        QPainterPath clip;
        QPointF origin;  // where the image goes, in the parent's view units
        double opacity = 1;
        Blend blend = Blend::Normal;
    };
    QPainter& painter();
    QPointF offset() const;  // view-unit origin of the surface drawn on now
    void place(QPainter& p, const Affine& t);

    QPainter& root_;
    QTransform base_;
    std::vector<Layer> layers_;
};

}  // namespace vorn_ui::qt
