#pragma once
// The application window: drives an application's hooks from Qt's event loop
// (layout, paint, input, document changes, fabric events, accessibility) and
// renders the same frames offscreen for screenshots. UI thread only, except
// that the fabric backend may post events from any thread.

#include <memory>
#include <vector>

#include <QImage>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "vorn/ui/app.h"
#include "vorn/ui/document_store.h"
#include "vorn/ui/fabric.h"

namespace vorn_ui::qt {

class AccessBridge;

class AppWindow final : public QWidget {
    Q_OBJECT

  public:
    // The window owns everything it is given; `store` and `backend` may be
    // null (no document, commands are dropped).
    AppWindow(std::unique_ptr<app::App> app, std::unique_ptr<persist::DocumentStore> store,
              std::unique_ptr<fabric::Backend> backend);
    ~AppWindow() override;

    app::App& app() { return *app_; }
    app::Application& application() { return app_->application(); }
    doc::Document* document();
    AccessBridge* access_bridge() { return bridge_.get(); }

    // Hands the document to the application (first hand-over).
    void deliver_document();
    // One frame exactly as paintEvent draws it, into `painter` at `size`.
    void paint_frame(QPainter& painter, QSize size);
    // Renders a settled frame at `size` offscreen (layout and paint passes
    // with animations snapped first).
    QImage render_settled(QSize size);
    // A reader activated an element: runs the semantic action hook.
    bool semantic_action(std::string_view element_id, const SemanticEvent& event);

    // Shared with the accessibility interfaces Qt owns, which may outlive us.
    struct Handle {
        AppWindow* window = nullptr;
    };
    std::shared_ptr<Handle> handle() const { return handle_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool focusNextPrevChild(bool next) override;

  private:
    enum class After { Input, Paint, Other };
    void input(const InputEvent& event);
    // Everything that follows a hook call: the fabric outbox, saving the
    // document, accessibility and scheduling the next paint.
    void after_hook(After kind);
    void refresh_document();

    std::unique_ptr<app::App> app_;
    std::unique_ptr<persist::DocumentStore> store_;
    std::unique_ptr<fabric::Backend> backend_;
    std::unique_ptr<AccessBridge> bridge_;
    std::shared_ptr<Handle> handle_;
    std::unique_ptr<QSocketNotifier> watch_;
    QTimer frames_;
    QTimer access_timer_;
    bool in_after_hook_ = false;
    std::string last_save_error_;
};

}  // namespace vorn_ui::qt
