#include "vorn/ui/qt/painter_scene.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>

#include "vorn/ui/qt/fonts.h"

namespace vorn_ui::qt {
namespace {

QPainter::CompositionMode composition(Blend blend) {
    switch (blend) {
        case Blend::Multiply:
            return QPainter::CompositionMode_Multiply;
        case Blend::Screen:
            return QPainter::CompositionMode_Screen;
        case Blend::Normal:
            break;
    }
    return QPainter::CompositionMode_SourceOver;
}

void prepare(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
}

}  // namespace

QColor to_qcolor(Color c) {
    return QColor(c.r, c.g, c.b, c.a);
}

QTransform to_qtransform(const Affine& t) {
    return QTransform(t.a, t.b, t.c, t.d, t.e, t.f);
}

QPainterPath to_path(const Shape& shape) {
    QPainterPath path;
    if (const auto* r = std::get_if<Rect>(&shape)) {
        path.addRect(QRectF(r->x0, r->y0, r->width(), r->height()));
    } else if (const auto* rr = std::get_if<RoundedRect>(&shape)) {
        const Rect& r2 = rr->rect;
        double radius = std::clamp(rr->radius, 0.0, std::min(r2.width(), r2.height()) / 2);
        path.addRoundedRect(QRectF(r2.x0, r2.y0, r2.width(), r2.height()), radius, radius);
    } else if (const auto* c = std::get_if<Circle>(&shape)) {
        path.addEllipse(QPointF(c->center.x, c->center.y), c->radius, c->radius);
    } else if (const auto* p = std::get_if<Path>(&shape)) {
        for (const auto& e : p->elements()) {
            switch (e.verb) {
                case Path::Verb::Move:
                    path.moveTo(e.p[0].x, e.p[0].y);
                    break;
                case Path::Verb::Line:
                    path.lineTo(e.p[0].x, e.p[0].y);
                    break;
                case Path::Verb::Quad:
                    path.quadTo(e.p[0].x, e.p[0].y, e.p[1].x, e.p[1].y);
                    break;
                case Path::Verb::Cubic:
                    path.cubicTo(e.p[0].x, e.p[0].y, e.p[1].x, e.p[1].y, e.p[2].x, e.p[2].y);
                    break;
                case Path::Verb::Close:
                    path.closeSubpath();
                    break;
            }
        }
    }
    return path;
}

PainterScene::PainterScene(QPainter& painter) : root_(painter), base_(painter.worldTransform()) {
    prepare(root_);
}

PainterScene::~PainterScene() {
    while (!layers_.empty()) pop_layer();
    root_.setWorldTransform(base_);
}

QPainter& PainterScene::painter() {
    for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
        if (it->painter) return *it->painter;
    }
    return root_;
}

QPointF PainterScene::offset() const {
    for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
        if (it->painter) return it->origin;
    }
    return {0, 0};
}

void PainterScene::place(QPainter& p, const Affine& t) {
    QPointF o = offset();
    p.setWorldTransform(to_qtransform(t) * base_ * QTransform::fromTranslate(-o.x(), -o.y()));
}

void PainterScene::fill(const Shape& shape, Color color, const Affine& transform) {
    QPainter& p = painter();
    place(p, transform);
    p.fillPath(to_path(shape), to_qcolor(color));
}

void PainterScene::stroke(const Shape& shape, Color color, double width, const Affine& transform) {
    if (!(width > 0)) return;
    QPainter& p = painter();
    place(p, transform);
    QPen pen(to_qcolor(color), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.strokePath(to_path(shape), pen);
}

void PainterScene::push_layer(const Shape& clip, double opacity, Blend blend) {
    opacity = std::isfinite(opacity) ? std::clamp(opacity, 0.0, 1.0) : 1.0;
    Layer layer;
    layer.clip = base_.map(to_path(clip));
    layer.opacity = opacity;
    layer.blend = blend;
    QPainter& parent = painter();
    QPointF o = offset();
    if (opacity < 1.0 || blend != Blend::Normal) {
        // Group opacity: the layer's content is drawn apart and composited
        // once, so overlapping shapes inside it do not show through each
        // other. The offscreen image covers only the clip's bounds.
        QPaintDevice* device = parent.device();
        double dpr = device->devicePixelRatioF();
        QRectF visible = layer.clip.boundingRect().intersected(
            QRectF(o, QSizeF(device->width(), device->height())));
        QRect area = visible.isEmpty() ? QRect(o.toPoint(), QSize(1, 1)) : visible.toAlignedRect();
        auto image = std::make_unique<QImage>(std::max(1, int(std::ceil(area.width() * dpr))),
                                              std::max(1, int(std::ceil(area.height() * dpr))),
                                              QImage::Format_ARGB32_Premultiplied);
        image->setDevicePixelRatio(dpr);
        image->setDotsPerMeterX(int(std::lround(device->logicalDpiX() / 0.0254)));
        image->setDotsPerMeterY(int(std::lround(device->logicalDpiY() / 0.0254)));
        image->fill(Qt::transparent);
        auto p = std::make_unique<QPainter>(image.get());
        prepare(*p);
        p->setWorldTransform(QTransform::fromTranslate(-area.x(), -area.y()));
        p->setClipPath(visible.isEmpty() ? QPainterPath() : layer.clip);
        layer.origin = area.topLeft();
        layer.image = std::move(image);
        layer.painter = std::move(p);
    } else {
        parent.save();
        parent.setWorldTransform(QTransform::fromTranslate(-o.x(), -o.y()));
        parent.setClipPath(layer.clip, parent.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    layers_.push_back(std::move(layer));
}

void PainterScene::pop_layer() {
    if (layers_.empty()) return;
    Layer layer = std::move(layers_.back());
    layers_.pop_back();
    QPainter& parent = painter();
    if (!layer.painter) {
        parent.restore();
        return;
    }
    layer.painter->end();
    QPointF o = offset();
    parent.save();
    parent.setWorldTransform(QTransform::fromTranslate(-o.x(), -o.y()));
    parent.setOpacity(parent.opacity() * layer.opacity);
    parent.setCompositionMode(composition(layer.blend));
    parent.drawImage(layer.origin, *layer.image);
    parent.restore();
}

void PainterScene::draw_image(const Image& image, const Rect& dest, bool smooth) {
    if (image.width <= 0 || image.height <= 0 || !image.rgba) return;
    std::size_t needed = std::size_t(image.width) * std::size_t(image.height) * 4;
    if (image.rgba->size() < needed || std::size_t(image.width) * 4 > std::size_t(INT32_MAX))
        return;
    // Wraps the shared bytes; the const constructor makes Qt treat them as
    // read-only, so nothing is copied and the pixels are never written.
    QImage view(image.rgba->data(), image.width, image.height, image.width * 4,
                QImage::Format_RGBA8888);
    QPainter& p = painter();
    place(p, {});
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    p.drawImage(QRectF(dest.x0, dest.y0, dest.width(), dest.height()), view);
    p.restore();
}

void PainterScene::draw_text(const TextRun& run) {
    if (run.text.empty() || !(run.size_pt > 0) || !std::isfinite(run.size_pt)) return;
    QPainter& p = painter();
    QFont font = font_for(run.face, run.size_pt, run.weight, p.device()->logicalDpiY());
    place(p, run.transform);
    p.setFont(font);
    p.setPen(to_qcolor(run.color));
    double ascent = QFontMetricsF(font, p.device()).ascent();
    p.drawText(QPointF(run.origin.x, run.origin.y + ascent),
               QString::fromUtf8(run.text.data(), qsizetype(run.text.size())));
}

}  // namespace vorn_ui::qt
