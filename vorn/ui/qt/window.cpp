#include "vorn/ui/qt/window.h"

#include <chrono>
#include <cmath>

#include <QAccessible>
#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>

#include "vorn/ui/colors.h"
#include "vorn/ui/log.h"
#include "vorn/ui/qt/access_bridge.h"
#include "vorn/ui/qt/keys.h"
#include "vorn/ui/qt/painter_scene.h"

namespace vorn_ui::qt {
namespace {

constexpr int kFrameMillis = 16;
// Readers get the tree at most this often while frames run continuously.
constexpr int kAccessSyncMillis = 250;

PointerButton button_from_qt(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton:
            return PointerButton::Primary;
        case Qt::RightButton:
            return PointerButton::Secondary;
        case Qt::MiddleButton:
            return PointerButton::Middle;
        default:
            return PointerButton::Other;
    }
}

Point point(const QPointF& p) {
    return {p.x(), p.y()};
}

}  // namespace

AppWindow::AppWindow(std::unique_ptr<app::App> app, std::unique_ptr<persist::DocumentStore> store,
                     std::unique_ptr<fabric::Backend> backend)
    : app_(std::move(app)),
      store_(std::move(store)),
      backend_(std::move(backend)),
      handle_(std::make_shared<Handle>(Handle{this})) {
    bridge_ = std::make_unique<AccessBridge>(*this);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    frames_.setInterval(kFrameMillis);
    connect(&frames_, &QTimer::timeout, this, [this] { update(); });
    access_timer_.setSingleShot(true);
    access_timer_.setInterval(kAccessSyncMillis);
    connect(&access_timer_, &QTimer::timeout, this, [this] {
        if (bridge_->dirty() && QAccessible::isActive()) bridge_->sync();
    });

    if (store_ && store_->watch_fd() >= 0) {
        watch_ = std::make_unique<QSocketNotifier>(store_->watch_fd(), QSocketNotifier::Read);
        connect(watch_.get(), &QSocketNotifier::activated, this, [this] { refresh_document(); });
    }
    if (backend_) {
        // Backends post from their own threads; the event is queued to this
        // window's thread. The backend is destroyed first in ~AppWindow, so
        // nothing posts to a window that is gone.
        backend_->start([this](fabric::Event event) {
            QMetaObject::invokeMethod(
                this,
                [this, event = std::move(event)] {
                    application().on_fabric_event(event);
                    after_hook(After::Other);
                },
                Qt::QueuedConnection);
        });
    }
}

AppWindow::~AppWindow() {
    frames_.stop();
    access_timer_.stop();
    backend_.reset();
    watch_.reset();
    handle_->window = nullptr;
    bridge_.reset();
    app_.reset();
    store_.reset();
}

doc::Document* AppWindow::document() {
    return store_ ? &store_->document() : nullptr;
}

void AppWindow::deliver_document() {
    if (!store_) return;
    application().on_document(store_->document());
    after_hook(After::Other);
}

void AppWindow::refresh_document() {
    if (!store_) return;
    auto changed = store_->refresh();
    if (!changed) {
        log::warn("could not read changes to the document: " + changed.error());
        // The descriptor may stay readable after a failed read; listen again
        // a little later rather than spin on it.
        if (watch_) {
            watch_->setEnabled(false);
            QTimer::singleShot(1000, this, [this] {
                if (watch_) watch_->setEnabled(true);
            });
        }
        return;
    }
    if (*changed) deliver_document();
}

void AppWindow::after_hook(After kind) {
    if (in_after_hook_) return;
    in_after_hook_ = true;
    app::Application& a = application();

    if (auto commands = a.take_outbox(); !commands.empty() && backend_) {
        for (auto& command : commands) backend_->deliver(std::move(command));
    }
    if (store_ && kind != After::Paint) {
        // A document still wanted (the application was not ready for it)
        // is offered again after each event.
        if (a.document_wanted()) a.on_document(store_->document());
        if (auto saved = store_->save(); !saved) {
            if (saved.error() != last_save_error_)
                log::warn("could not save the document: " + saved.error());
            last_save_error_ = saved.error();
        } else {
            last_save_error_.clear();
        }
    }

    bridge_->mark_dirty();
    if (kind == After::Paint) {
        if (!access_timer_.isActive()) access_timer_.start();
    } else if (QAccessible::isActive()) {
        // Deferred: a reader's action may be running inside an interface
        // the rebuild would delete.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (bridge_->dirty()) bridge_->sync();
            },
            Qt::QueuedConnection);
    }

    if (a.wants_frames()) {
        if (!frames_.isActive()) frames_.start();
    } else {
        frames_.stop();
        if (kind != After::Paint && a.needs_redraw()) {
            std::vector<Rect> damaged;
            a.damage(damaged);
            if (damaged.empty()) {
                update();
            } else {
                for (const Rect& r : damaged) {
                    update(QRectF(r.x0, r.y0, r.width(), r.height()).toAlignedRect());
                }
            }
        }
    }
    in_after_hook_ = false;
}

void AppWindow::paint_frame(QPainter& painter, QSize size) {
    app::Application& a = application();
    painter.fillRect(QRect(QPoint(0, 0), size), to_qcolor(Colors::dark().background));
    a.layout(Rect{0, 0, double(size.width()), double(size.height())});
    {
        PainterScene scene(painter);
        a.paint(scene);
    }
    a.clear_redraw();
}

QImage AppWindow::render_settled(QSize size) {
    application().set_reduced_motion(true);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    // The screen's resolution, which fonts are resolved for (offscreen: a
    // fixed 96 dpi, so the output is the same on every machine).
    const QScreen* screen = QGuiApplication::primaryScreen();
    int dpm = int(std::lround((screen ? screen->logicalDotsPerInchY() : 96.0) / 0.0254));
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
    // Passes before the real one let first-layout work and animations,
    // which reduced motion snaps, settle.
    for (int pass = 0; pass < 3; ++pass) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint_frame(painter, size);
    }
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        paint_frame(painter, size);
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

bool AppWindow::semantic_action(std::string_view element_id, const SemanticEvent& event) {
    bool used = application().handle_semantic_action(element_id, event, document());
    after_hook(After::Other);
    return used;
}

void AppWindow::input(const InputEvent& event) {
    application().handle_input(event, document());
    after_hook(After::Input);
}

void AppWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint_frame(painter, size());
    painter.end();
    after_hook(After::Paint);
}

void AppWindow::resizeEvent(QResizeEvent*) {
    application().layout(Rect{0, 0, double(width()), double(height())});
    after_hook(After::Other);
    update();
}

void AppWindow::keyPressEvent(QKeyEvent* event) {
    input(key_event_from_qt(*event));
}

void AppWindow::keyReleaseEvent(QKeyEvent* event) {
    input(key_event_from_qt(*event));
}

void AppWindow::mousePressEvent(QMouseEvent* event) {
    input(PointerButtonEvent{point(event->position()), button_from_qt(event->button()), true, 1,
                             modifiers_from_qt(event->modifiers())});
}

void AppWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt sends this in place of the second press.
    input(PointerButtonEvent{point(event->position()), button_from_qt(event->button()), true, 2,
                             modifiers_from_qt(event->modifiers())});
}

void AppWindow::mouseReleaseEvent(QMouseEvent* event) {
    input(PointerButtonEvent{point(event->position()), button_from_qt(event->button()), false, 1,
                             modifiers_from_qt(event->modifiers())});
}

void AppWindow::mouseMoveEvent(QMouseEvent* event) {
    input(PointerMove{point(event->position())});
}

void AppWindow::wheelEvent(QWheelEvent* event) {
    PointerWheel wheel;
    wheel.position = point(event->position());
    wheel.modifiers = modifiers_from_qt(event->modifiers());
    wheel.scale_factor = devicePixelRatioF();
    // Qt counts toward the screen as positive; ours is the other way round.
    if (!event->pixelDelta().isNull()) {
        wheel.unit = PointerWheel::Unit::Pixels;
        wheel.dx = -event->pixelDelta().x();
        wheel.dy = -event->pixelDelta().y();
    } else {
        wheel.unit = PointerWheel::Unit::Lines;
        double lines = QApplication::wheelScrollLines();
        wheel.dx = -event->angleDelta().x() / 120.0 * lines;
        wheel.dy = -event->angleDelta().y() / 120.0 * lines;
    }
    input(wheel);
}

void AppWindow::leaveEvent(QEvent*) {
    input(PointerLeave{});
}

void AppWindow::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) input(ImeCommit{event->commitString().toStdString()});
    event->accept();
}

QVariant AppWindow::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query == Qt::ImEnabled) return true;
    return QWidget::inputMethodQuery(query);
}

bool AppWindow::focusNextPrevChild(bool) {
    return false;
}  // Tab belongs to the application

}  // namespace vorn_ui::qt
