#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>

#include "vorn/doc/document.h"
#include "vorn/ui/colors.h"
#include "vorn/ui/examples/example_app.h"
#include "vorn/ui/qt/access_bridge.h"
#include "vorn/ui/qt/fonts.h"
#include "vorn/ui/qt/keys.h"
#include "vorn/ui/qt/launch_options.h"
#include "vorn/ui/qt/painter_scene.h"
#include "vorn/ui/qt/window.h"
#include "vorn/ui/text.h"

namespace {

using namespace vorn_ui;
using example::ExampleApp;

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "vorn_ui_qt_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        qt::install_access_factory();
        install_font_metrics(std::make_shared<qt::QtFontMetrics>());
    }
    void TearDown() override {
        install_font_metrics(nullptr);
        app_.reset();
    }

  private:
    std::unique_ptr<QApplication> app_;
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QRgb rgb(Color c) {
    return qRgb(c.r, c.g, c.b);
}

// Runs the event loop until `done` or two seconds pass.
template <typename F>
bool wait_for(F done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QImage canvas(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    // The screen's resolution, as for windows and screenshots.
    int dpm = int(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 0.0254));
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
    image.fill(Qt::black);
    return image;
}

TEST(QtFonts, OnePointIsOneUnitAndMonoIsPointSixEm) {
    const qt::QtFontMetrics m;
    // Qt keeps advances in 1/64 units: within one of those per cell.
    EXPECT_NEAR(m.advance("M", FontFace::Mono, 14, 0), 8.4, 1.0 / 64);
    EXPECT_NEAR(m.advance(std::string(80, 'x'), FontFace::Mono, 14, 0), 672, 80.0 / 128);
    EXPECT_NEAR(m.advance("M", FontFace::Mono, 20, 0), 12.0, 1.0 / 64);
    // Proportional face: wider when bold, twice as wide at twice the size.
    double regular = m.advance("Hello world", FontFace::Ui, 14, 0);
    EXPECT_GT(m.advance("Hello world", FontFace::Ui, 14, 3), regular);
    EXPECT_NEAR(m.advance("Hello world", FontFace::Ui, 28, 0), 2 * regular, 1.0);
    EXPECT_GT(m.line_height(FontFace::Ui, 14), 14);
    EXPECT_LT(m.line_height(FontFace::Ui, 14), 20);
    EXPECT_EQ(m.advance("", FontFace::Ui, 14, 0), 0);
}

TEST(PainterSceneTest, TextSitsInItsLineBoxAndMatchesTheMeasuredWidth) {
    QImage image = canvas(200, 60);
    {
        QPainter p(&image);
        qt::PainterScene scene(p);
        TextRenderer::mono().draw_text(scene, "MMMMMMMMMM", {10, 20}, Color::rgb(0xffffff), 14);
    }
    int top = -1, bottom = -1, left = -1, right = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > 100) {
                if (top < 0) top = y;
                bottom = y;
                left = left < 0 ? x : std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    double line = qt::QtFontMetrics().line_height(FontFace::Mono, 14);
    EXPECT_GE(top, 20);
    EXPECT_LE(bottom, 20 + line);
    EXPECT_GE(left, 10);
    EXPECT_NEAR(right, 10 + 84, 3);  // ten cells of 8.4
}

TEST(PainterSceneTest, LayersClipBlendAndApplyOpacityToTheGroup) {
    QImage image = canvas(300, 100);
    {
        QPainter p(&image);
        qt::PainterScene scene(p);
        // Clip: a big fill shows only inside the clip rectangle.
        scene.push_layer(Rect{10, 10, 50, 50});
        scene.fill(Rect{0, 0, 300, 100}, Color::rgb(0x00ff00));
        scene.pop_layer();
        // Group opacity: the overlap of two shapes looks like the rest.
        scene.push_layer(Rect{100, 0, 200, 100}, 0.5);
        scene.fill(Rect{100, 10, 160, 50}, Color::rgb(0xffffff));
        scene.fill(Rect{140, 10, 200, 50}, Color::rgb(0xffffff));
        scene.pop_layer();
        // Multiply over white keeps the layer's colour.
        scene.fill(Rect{220, 10, 280, 50}, Color::rgb(0xffffff));
        scene.push_layer(Rect{220, 10, 280, 50}, 1.0, Blend::Multiply);
        scene.fill(Rect{220, 10, 280, 50}, Color::rgb(0x804020));
        scene.pop_layer();
        // Nested: a clip inside a group drawn apart, both off the origin.
        scene.push_layer(Rect{200, 60, 300, 100}, 0.5);
        scene.push_layer(Circle{{220, 80}, 10});
        scene.fill(Rect{0, 0, 300, 100}, Color::rgb(0xffffff));
        scene.pop_layer();
        scene.pop_layer();
        // A layer left open is still composited when the scene ends.
        scene.push_layer(Rect{0, 60, 100, 100}, 0.5);
        scene.fill(Rect{0, 70, 20, 90}, Color::rgb(0xffffff));
    }
    EXPECT_EQ(image.pixel(30, 30), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(5, 5), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(60, 60), qRgb(0, 0, 0));
    QRgb alone = image.pixel(120, 30), overlap = image.pixel(150, 30);
    EXPECT_EQ(alone, overlap);
    EXPECT_NEAR(qRed(alone), 128, 2);
    EXPECT_EQ(image.pixel(250, 30), qRgb(0x80, 0x40, 0x20));
    EXPECT_NEAR(qRed(image.pixel(10, 80)), 128, 2);
    EXPECT_NEAR(qRed(image.pixel(220, 80)), 128, 2);
    EXPECT_EQ(image.pixel(240, 80), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(195, 80), qRgb(0, 0, 0));
}

TEST(PainterSceneTest, ImagesAreDrawnFromSharedBytesAndBadOnesAreSkipped) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(
        std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 255, 255});  // red, blue
    Image two{2, 1, bytes};
    QImage image = canvas(40, 20);
    {
        QPainter p(&image);
        qt::PainterScene scene(p);
        scene.draw_image(two, {0, 0, 40, 20}, false);
        scene.draw_image(Image{100, 100, bytes}, {0, 0, 40, 20});  // too few bytes
        scene.draw_image(Image{2, 1, nullptr}, {0, 0, 40, 20});
    }
    EXPECT_EQ(image.pixel(5, 10), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(35, 10), qRgb(0, 0, 255));
}

struct KeyCase {
    const char* what;
    int qt_key;
    Qt::KeyboardModifiers mods;
    quint32 x_keycode;
    QString text;
    bool autorepeat;
    std::variant<NamedKey, std::string> key;
    std::string text_out;
    Modifiers mods_out;
    std::string code;
};

TEST(KeyMapping, LogicalKeyTextModifiersAndPhysicalCode) {
    const Modifiers none{}, ctrl{true, false, false, false}, shift{false, false, true, false},
        super{false, true, false, false};
    const std::vector<KeyCase> cases = {
        {"letter", Qt::Key_A, Qt::NoModifier, 38, "a", false, std::string("a"), "a", none, "KeyA"},
        {"shifted letter", Qt::Key_A, Qt::ShiftModifier, 38, "A", false, std::string("A"), "A",
         shift, "KeyA"},
        {"control letter", Qt::Key_C, Qt::ControlModifier, 54, "\x03", false, std::string("c"), "",
         ctrl, "KeyC"},
        {"slash", Qt::Key_Slash, Qt::NoModifier, 61, "/", false, std::string("/"), "/", none,
         "Slash"},
        {"accented", Qt::Key_Eacute, Qt::NoModifier, 19, QString::fromUtf8("é"), false,
         std::string("é"), "é", none, "Digit0"},
        {"keypad arrow", Qt::Key_Left, Qt::KeypadModifier, 83, "", false, NamedKey::ArrowLeft, "",
         none, "Numpad4"},
        {"enter", Qt::Key_Return, Qt::NoModifier, 36, "\r", false, NamedKey::Enter, "", none,
         "Enter"},
        {"space", Qt::Key_Space, Qt::NoModifier, 65, " ", false, NamedKey::Space, " ", none,
         "Space"},
        {"function key repeat", Qt::Key_F5, Qt::NoModifier, 71, "", true, NamedKey::F5, "", none,
         "F5"},
        {"logo key", Qt::Key_Super_L, Qt::MetaModifier, 133, "", false, NamedKey::Meta, "", super,
         "MetaLeft"},
        {"no scan code", Qt::Key_Escape, Qt::NoModifier, 0, "\x1b", false, NamedKey::Escape, "",
         none, ""},
        {"high function key", Qt::Key_F13, Qt::NoModifier, 191, "", false, NamedKey::Unidentified,
         "", none, "F13"},
    };
    for (const auto& c : cases) {
        QKeyEvent e(QEvent::KeyPress, c.qt_key, c.mods, c.x_keycode, 0, 0, c.text, c.autorepeat);
        KeyEvent k = qt::key_event_from_qt(e);
        EXPECT_EQ(k.key, c.key) << c.what;
        EXPECT_EQ(k.text, c.text_out) << c.what;
        EXPECT_EQ(k.modifiers, c.mods_out) << c.what;
        EXPECT_EQ(k.code, c.code) << c.what;
        EXPECT_EQ(k.repeat, c.autorepeat) << c.what;
        EXPECT_TRUE(k.pressed) << c.what;
    }
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, 38, 0, 0, "a");
    EXPECT_FALSE(qt::key_event_from_qt(release).pressed);
}

// Records what the window hands to the application.
class Recorder final : public app::Application {
  public:
    bool handle_input(const InputEvent& e, doc::Document* d) override {
        inputs.push_back(e);
        input_had_document = d != nullptr;
        return true;
    }
    void on_document(doc::Document&) override { ++documents; }
    bool needs_redraw() const override { return false; }
    bool wants_frames() const override { return frames; }
    std::vector<fabric::Command> take_outbox() override { return std::exchange(outbox, {}); }
    void on_fabric_event(const fabric::Event& e) override {
        events.push_back(e);
        event_thread = std::this_thread::get_id();
    }
    void paint(Scene&) override { ++paints; }

    std::vector<InputEvent> inputs;
    std::vector<fabric::Command> outbox;
    std::vector<fabric::Event> events;
    std::thread::id event_thread;
    bool input_had_document = false;
    bool frames = false;
    int documents = 0;
    int paints = 0;
};

class FakeBackend final : public fabric::Backend {
  public:
    explicit FakeBackend(std::vector<fabric::Command>& delivered, Post& post)
        : delivered_(delivered), post_(post) {}
    void start(Post post) override { post_ = std::move(post); }
    void deliver(fabric::Command c) override { delivered_.push_back(std::move(c)); }

  private:
    std::vector<fabric::Command>& delivered_;
    Post& post_;
};

class FakeStore final : public persist::DocumentStore {
  public:
    FakeStore(int& saves, int fd) : saves_(saves), fd_(fd) {}
    doc::Document& document() override { return document_; }
    std::expected<void, std::string> save() override {
        ++saves_;
        return {};
    }
    int watch_fd() const override { return fd_; }
    std::expected<bool, std::string> refresh() override {
        char buf[16];
        return ::read(fd_, buf, sizeof buf) > 0;
    }

  private:
    doc::Document document_;
    int& saves_;
    int fd_;
};

struct RecorderWindow {
    RecorderWindow() {
        EXPECT_EQ(::pipe(pipe_fds), 0);
        auto recorder_owned = std::make_unique<Recorder>();
        recorder = recorder_owned.get();
        window =
            std::make_unique<qt::AppWindow>(std::make_unique<app::App>(std::move(recorder_owned)),
                                            std::make_unique<FakeStore>(saves, pipe_fds[0]),
                                            std::make_unique<FakeBackend>(delivered, post));
        window->resize(400, 300);
        window->show();
    }
    ~RecorderWindow() {
        window.reset();
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
    }
    int pipe_fds[2] = {-1, -1};
    int saves = 0;
    std::vector<fabric::Command> delivered;
    fabric::Backend::Post post;
    Recorder* recorder = nullptr;
    std::unique_ptr<qt::AppWindow> window;
};

TEST(AppWindowInput, KeysAndPointerReachTheInputHook) {
    RecorderWindow w;
    auto send = [&](QEvent& e) { QCoreApplication::sendEvent(w.window.get(), &e); };

    QKeyEvent ctrl_a(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, 38, 0x61, 0, "\x01");
    send(ctrl_a);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 20), QPointF(10, 20), Qt::RightButton,
                      Qt::RightButton, Qt::ShiftModifier);
    send(press);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(11, 21), QPointF(11, 21), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    send(dbl);
    QWheelEvent wheel(QPointF(5, 6), QPointF(5, 6), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    send(wheel);
    QInputMethodEvent ime;
    ime.setCommitString(QString::fromUtf8("日本"));
    send(ime);
    // Tab is the application's, not Qt's focus chain.
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, 23, 0, 0, "\t");
    send(tab);

    const auto& in = w.recorder->inputs;
    ASSERT_GE(in.size(), 5u);
    const auto& key = std::get<KeyEvent>(in[0]);
    EXPECT_EQ(*key.character(), "a");
    EXPECT_TRUE(key.modifiers.control);
    EXPECT_EQ(key.code, "KeyA");
    EXPECT_TRUE(key.text.empty());
    const auto& b = std::get<PointerButtonEvent>(in[1]);
    EXPECT_EQ(b.button, PointerButton::Secondary);
    EXPECT_EQ(b.position, (Point{10, 20}));
    EXPECT_TRUE(b.modifiers.shift);
    EXPECT_EQ(std::get<PointerButtonEvent>(in[2]).click_count, 2);
    const auto& wh = std::get<PointerWheel>(in[3]);
    EXPECT_EQ(wh.unit, PointerWheel::Unit::Lines);
    EXPECT_GT(wh.dy, 0);  // turned toward the user: content moves up
    EXPECT_EQ(std::get<ImeCommit>(in[4]).text, "日本");
    ASSERT_GE(in.size(), 6u);
    EXPECT_EQ(*std::get<KeyEvent>(in[5]).named(), NamedKey::Tab);
    EXPECT_EQ(std::get<KeyEvent>(in[5]).code, "Tab");
    EXPECT_TRUE(w.recorder->input_had_document);
}

TEST(AppWindowFrames, PaintsContinuouslyOnlyWhileFramesAreWanted) {
    RecorderWindow w;
    w.recorder->frames = true;
    QKeyEvent key(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, 56, 0, 0, "b");
    QCoreApplication::sendEvent(w.window.get(), &key);
    int start = w.recorder->paints;
    ASSERT_TRUE(wait_for([&] { return w.recorder->paints >= start + 3; }));
    w.recorder->frames = false;
    int settled = w.recorder->paints + 1;  // at most the frame already asked for
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_LE(w.recorder->paints, settled);
}

TEST(AppWindowHooks, OutboxDocumentAndFabricEventsFlowThroughTheWindow) {
    RecorderWindow w;
    w.window->deliver_document();
    EXPECT_EQ(w.recorder->documents, 1);

    // Commands queued by a hook go to the backend; the document is saved.
    w.recorder->outbox.push_back(fabric::CloseStream{7});
    int saves_before = w.saves;
    QKeyEvent key(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, 56, 0, 0, "b");
    QCoreApplication::sendEvent(w.window.get(), &key);
    ASSERT_EQ(w.delivered.size(), 1u);
    EXPECT_EQ(std::get<fabric::CloseStream>(w.delivered[0]).stream, 7u);
    EXPECT_GT(w.saves, saves_before);

    // Another replica wrote: the watch descriptor wakes the window.
    ASSERT_EQ(::write(w.pipe_fds[1], "x", 1), 1);
    EXPECT_TRUE(wait_for([&] { return w.recorder->documents == 2; }));

    // Events posted from a backend thread arrive on the UI thread.
    ASSERT_TRUE(w.post);
    std::thread worker([&] { w.post(fabric::Connecting{3}); });
    worker.join();
    ASSERT_TRUE(wait_for([&] { return !w.recorder->events.empty(); }));
    EXPECT_EQ(std::get<fabric::Connecting>(w.recorder->events[0]).stream, 3u);
    EXPECT_EQ(w.recorder->event_thread, std::this_thread::get_id());
}

QAccessibleInterface* find_child(QAccessibleInterface* parent, const QString& id) {
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* c = parent->child(i);
        if (c && c->text(QAccessible::UserText) == id) return c;
    }
    return nullptr;
}

TEST(AccessibilityBridge, PublishesTheTreeAndRoutesReaderActions) {
    auto owned = std::make_unique<ExampleApp>();
    ExampleApp* app = owned.get();
    qt::AppWindow window(std::make_unique<app::App>(std::move(owned)), nullptr, nullptr);
    window.resize(800, 400);
    window.show();

    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->role(), QAccessible::Window);
    EXPECT_EQ(root->text(QAccessible::Name), "Vorn UI example");
    ASSERT_EQ(root->childCount(), 3);
    QAccessibleInterface* greet = find_child(root, "example.greet");
    QAccessibleInterface* name = find_child(root, "example.name");
    ASSERT_NE(greet, nullptr);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(greet->text(QAccessible::Name), "Greet");
    EXPECT_EQ(greet->role(), QAccessible::Button);
    EXPECT_EQ(greet->parent(), root);
    EXPECT_EQ(root->indexOfChild(greet), 2);
    EXPECT_EQ(name->role(), QAccessible::EditableText);
    EXPECT_TRUE(name->state().editable);
    EXPECT_EQ(find_child(root, "example.greeting"), nullptr);
    EXPECT_EQ(root->focusChild(), nullptr);
    QAccessible::Id greet_id = QAccessible::uniqueId(greet);

    // A reader types into the input, then presses the button.
    ASSERT_NE(name->editableTextInterface(), nullptr);
    name->editableTextInterface()->insertText(0, QString::fromUtf8("Zoë"));
    EXPECT_EQ(app->name(), "Zoë");
    name->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
    EXPECT_EQ(root->focusChild(), name);
    EXPECT_TRUE(name->state().focused);
    ASSERT_NE(greet->actionInterface(), nullptr);
    EXPECT_EQ(greet->actionInterface()->actionNames(),
              QStringList{QAccessibleActionInterface::pressAction()});
    greet->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(app->greeting(), "Hello, Zoë!");

    // The rebuilt tree keeps the same objects and shows the new ones.
    QCoreApplication::processEvents();
    ASSERT_EQ(root->childCount(), 4);
    EXPECT_EQ(find_child(root, "example.greet"), greet);
    EXPECT_EQ(QAccessible::uniqueId(greet), greet_id);
    EXPECT_EQ(find_child(root, "example.name")->text(QAccessible::Value), QString::fromUtf8("Zoë"));
    QAccessibleInterface* greeting = find_child(root, "example.greeting");
    ASSERT_NE(greeting, nullptr);
    EXPECT_EQ(greeting->text(QAccessible::Name), QString::fromUtf8("Hello, Zoë!"));
    // A label offers no actions and ignores attempts.
    EXPECT_TRUE(greeting->actionInterface()->actionNames().isEmpty());
    greeting->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

// The example program run as users run it.
struct ExampleRun {
    int status;
    QString err;
};

ExampleRun run_example(const QStringList& args, bool without_display = false,
                       QString display = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    static QTemporaryDir runtime;
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.remove("VORN_REDUCED_MOTION");
    if (without_display) {
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
    }
    if (!display.isEmpty()) {
        env.insert("DISPLAY", display);
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
    }
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VORN_UI_EXAMPLE), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {-1, "timed out"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError())};
}

int bright_pixels(const QImage& image, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += qGray(image.pixel(x, y)) > 150;
    return n;
}

TEST(Screenshot, RendersTheExampleOffscreenDeterministically) {
    QTemporaryDir dir;
    const QString a = dir.filePath("a.png"), b = dir.filePath("b.png"),
                  greeted = dir.filePath("g.png");
    ASSERT_EQ(run_example({"--screenshot", a}).status, 0);
    ASSERT_EQ(run_example({"--screenshot", b}).status, 0);
    ASSERT_EQ(
        run_example({"--preview", "greeted", "--screenshot", greeted, "--size", "820x360"}).status,
        0);

    QImage image(a);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(800, 400));  // the record's default size
    const Colors& c = Colors::dark();
    EXPECT_EQ(image.pixel(100, 120), rgb(c.danger));
    EXPECT_EQ(image.pixel(int(ExampleApp::kCircleCenter.x), int(ExampleApp::kCircleCenter.y)),
              rgb(c.accent));
    EXPECT_EQ(image.pixel(790, 390), rgb(c.background));
    // The group-opacity layer: one even grey across the overlap.
    EXPECT_EQ(image.pixel(560, 120), image.pixel(620, 120));
    EXPECT_EQ(image.pixel(560, 120), image.pixel(690, 120));
    EXPECT_NEAR(qRed(image.pixel(560, 120)), (c.background.r + 255) / 2, 2);
    // Unsmoothed image: crisp 20-unit checker cells.
    EXPECT_LT(qGray(image.pixel(715, 85)), 60);
    EXPECT_GT(qGray(image.pixel(735, 85)), 240);
    // Text: the bold title and the button label leave bright pixels.
    EXPECT_GT(bright_pixels(image, QRect(24, 20, 250, 30)), 300);
    EXPECT_GT(bright_pixels(image, QRect(380, 205, 60, 26)), 40);
    EXPECT_EQ(bright_pixels(image, QRect(24, 256, 200, 20)), 0);

    QFile fa(a), fb(b);
    ASSERT_TRUE(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
    EXPECT_EQ(fa.readAll(), fb.readAll());

    QImage g(greeted);
    EXPECT_EQ(g.size(), QSize(820, 360));
    EXPECT_GT(bright_pixels(g, QRect(24, 256, 200, 20)), 50);  // "Hello, world!"
}

TEST(Screenshot, BadStartsEndWithOneSentenceAndStatusOne) {
    QTemporaryDir dir;
    struct Case {
        QStringList args;
        bool without_display;
        const char* says;
        QString display = {};
    };
    const std::vector<Case> cases = {
        {{"--size", "0x5", "--screenshot", dir.filePath("x.png")},
         false,
         "--size must be WIDTHxHEIGHT"},
        {{"--size", "640", "--screenshot", dir.filePath("x.png")},
         false,
         "--size must be WIDTHxHEIGHT"},
        {{"--screenshot"}, false, "--screenshot needs a value"},
        {{"--frobnicate"}, false, "Unknown option --frobnicate"},
        {{"--screenshot", dir.filePath("missing/dir/x.png")},
         false,
         "Could not write the screenshot to "},
        {{}, true, "Example needs a graphical display: set DISPLAY"},
        {{},
         false,
         "Example cannot reach the display :7391: no X server is listening there",
         ":7391"},
    };
    for (const auto& c : cases) {
        ExampleRun r = run_example(c.args, c.without_display, c.display);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_TRUE(r.err.contains(c.says)) << c.says << " / got: " << r.err.toStdString();
        EXPECT_EQ(r.err.trimmed().count('\n'), 0) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("x.png")));
}

// What the launch did, seen from the application's side.
struct Probe {
    std::string preview;
    bool registered = false;
    bool reduced = false;
    Rect laid_out;
    int documents = 0;
    int opened = 0;
};

class ProbeApp final : public app::Application {
  public:
    explicit ProbeApp(Probe& p) : p_(p) {}
    void layout(Rect r) override { p_.laid_out = r; }
    void set_reduced_motion(bool r) override { p_.reduced = r; }
    void on_document(doc::Document&) override { ++p_.documents; }

  private:
    Probe& p_;
};

launch::LaunchRecord probe_record(Probe& p, bool opener_fails) {
    launch::LaunchRecord record;
    record.application_id = "org.vorn.Probe";
    record.preview_states = {"narrow"};
    record.main_factory = [&p](const app::LaunchContext& c) -> std::unique_ptr<app::Application> {
        p.preview = c.preview;
        return std::make_unique<ProbeApp>(p);
    };
    record.register_actions = [&p](app::App&) { p.registered = true; };
    record.default_window_size = [] { return std::pair<std::uint32_t, std::uint32_t>{640, 480}; };
    static int saves = 0;
    record.persistence_opener =
        [&p,
         opener_fails]() -> std::expected<std::unique_ptr<persist::DocumentStore>, std::string> {
        ++p.opened;
        if (opener_fails) return std::unexpected(std::string("the disk is full"));
        return std::make_unique<FakeStore>(saves, -1);
    };
    return record;
}

int run_with(launch::LaunchRecord record, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return launch::run(std::move(record), int(args.size()), argv.data());
}

TEST(Launch, ScreenshotBuildsTheAppFromTheRecordWithoutTouchingTheDocument) {
    QTemporaryDir dir;
    Probe p;
    std::string path = dir.filePath("shot.png").toStdString();
    ASSERT_EQ(run_with(probe_record(p, false),
                       {"probe", "--preview", "narrow", "--screenshot", path, "--size", "300x200"}),
              0);
    EXPECT_EQ(p.preview, "narrow");
    EXPECT_TRUE(p.registered);
    EXPECT_TRUE(p.reduced);  // animations settled for a still picture
    EXPECT_EQ(p.laid_out, (Rect{0, 0, 300, 200}));
    EXPECT_EQ(p.opened, 0);
    EXPECT_EQ(QImage(QString::fromStdString(path)).size(), QSize(300, 200));
}

TEST(Launch, WindowOpensTheDocumentOrRunsWithoutIt) {
    for (bool fails : {false, true}) {
        Probe p;
        QTimer::singleShot(300, qApp, &QCoreApplication::quit);
        EXPECT_EQ(run_with(probe_record(p, fails), {"probe"}), 0);
        EXPECT_EQ(p.opened, 1);
        EXPECT_EQ(p.documents, fails ? 0 : 1) << fails;
        EXPECT_FALSE(p.reduced);
        EXPECT_EQ(p.laid_out, (Rect{0, 0, 640, 480}));  // the record's default size
    }
}

TEST(LaunchOptions, ParsesBothSpellingsAndLeavesToolkitOptionsToQt) {
    auto o =
        launch::parse_options({"--preview=narrow", "--size", "1280x800", "-platform", "offscreen"});
    ASSERT_TRUE(o.has_value());
    EXPECT_EQ(o->preview, "narrow");
    EXPECT_EQ(o->size, (std::pair{1280, 800}));
    EXPECT_FALSE(o->screenshot.has_value());
    EXPECT_EQ(o->passthrough, (std::vector<std::string>{"-platform", "offscreen"}));
    for (const char* bad :
         {"16385x10", "x10", "10x", "10x10x", "-1x10", "99999999999x1", "10X10"}) {
        EXPECT_FALSE(launch::parse_options({"--size", bad}).has_value()) << bad;
    }
    EXPECT_FALSE(launch::parse_options({"--screenshot="}).has_value());
}

}  // namespace
