#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <QApplication>
#include <QClipboard>
#include <QImageWriter>

#include <fmt/format.h>

#include "vorn/ui/document_store.h"
#include "vorn/ui/log.h"
#include "vorn/ui/qt/access_bridge.h"
#include "vorn/ui/qt/fonts.h"
#include "vorn/ui/qt/launch_options.h"
#include "vorn/ui/qt/window.h"
#include "vorn/ui/text.h"
#include "vorn/ui/widgets/text_input.h"

namespace vorn_ui::launch {
namespace {

constexpr int kMaxSide = 16384;

std::optional<std::pair<int, int>> parse_size(std::string_view s) {
    auto x = s.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    auto number = [](std::string_view part) -> std::optional<int> {
        if (part.empty() || part.size() > 5) return std::nullopt;
        int v = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + (c - '0');
        }
        if (v < 1 || v > kMaxSide) return std::nullopt;
        return v;
    };
    auto w = number(s.substr(0, x));
    auto h = number(s.substr(x + 1));
    if (!w || !h) return std::nullopt;
    return std::pair{*w, *h};
}

// Whether an X server listens on a local display such as ":1" or ":1.0"
// (its socket file, or the abstract socket of the same name). Remote
// displays ("host:1") are taken on trust.
bool local_display_reachable(std::string_view display) {
    if (!display.starts_with(':')) return true;
    std::string number(display.substr(1, display.find('.') == std::string_view::npos
                                             ? std::string_view::npos
                                             : display.find('.') - 1));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return true;
    std::string path = "/tmp/.X11-unix/X" + number;
    for (bool abstract : {false, true}) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return true;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::size_t offset = abstract ? 1 : 0;
        std::memcpy(addr.sun_path + offset, path.data(),
                    std::min(path.size(), sizeof addr.sun_path - 1 - offset));
        auto len = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size());
        bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
        ::close(fd);
        if (ok) return true;
    }
    return false;
}

bool env_set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// "com.example.Remote" → "Remote": the name users know the program by.
std::string display_name(const std::string& application_id) {
    auto dot = application_id.rfind('.');
    std::string name = dot == std::string::npos ? application_id : application_id.substr(dot + 1);
    return name.empty() ? std::string("This application") : name;
}

class SystemClipboard final : public widget::text_input::Clipboard {
  public:
    std::string text() const override { return QGuiApplication::clipboard()->text().toStdString(); }
    void set_text(std::string_view text) override {
        QGuiApplication::clipboard()->setText(
            QString::fromUtf8(text.data(), qsizetype(text.size())));
    }
};

int fail(const std::string& sentence) {
    std::fprintf(stderr, "%s\n", sentence.c_str());
    return 1;
}

}  // namespace

std::expected<Options, std::string> parse_options(const std::vector<std::string>& args) {
    Options out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string name(arg);
        std::optional<std::string> value;
        if (arg.starts_with("--")) {
            if (auto eq = arg.find('='); eq != std::string_view::npos) {
                name = std::string(arg.substr(0, eq));
                value = std::string(arg.substr(eq + 1));
            }
        } else {
            out.passthrough.emplace_back(arg);
            continue;
        }
        auto take = [&](std::string_view example) -> std::expected<std::string, std::string> {
            if (value) return *value;
            if (i + 1 >= args.size())
                return std::unexpected(
                    fmt::format("{} needs a value, for example {} {}.", name, name, example));
            return args[++i];
        };
        if (name == "--preview") {
            auto v = take("narrow");
            if (!v) return std::unexpected(v.error());
            out.preview = *v;
        } else if (name == "--screenshot") {
            auto v = take("window.png");
            if (!v) return std::unexpected(v.error());
            if (v->empty())
                return std::unexpected(std::string(
                    "--screenshot needs a file name, for example --screenshot window.png."));
            out.screenshot = *v;
        } else if (name == "--size") {
            auto v = take("1280x800");
            if (!v) return std::unexpected(v.error());
            auto size = parse_size(*v);
            if (!size) {
                return std::unexpected(
                    fmt::format("--size must be WIDTHxHEIGHT with each side from 1 to {}, for "
                                "example --size 1280x800; got \"{}\".",
                                kMaxSide, *v));
            }
            out.size = size;
        } else {
            return std::unexpected(
                fmt::format("Unknown option {}: the options are --preview NAME, --screenshot FILE "
                            "and --size WIDTHxHEIGHT.",
                            name));
        }
    }
    return out;
}

int run(LaunchRecord record, int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    auto options = parse_options(args);
    if (!options) return fail(options.error());
    const std::string name = display_name(record.application_id);

    if (options->screenshot) {
        if (!env_set("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else if (!env_set("DISPLAY") && !env_set("WAYLAND_DISPLAY") && !env_set("QT_QPA_PLATFORM")) {
        return fail(
            fmt::format("{} needs a graphical display: set DISPLAY or WAYLAND_DISPLAY (for example "
                        "run it under Xvfb), or use "
                        "--screenshot FILE to render one frame without one.",
                        name));
    }
    if (!options->screenshot && env_set("DISPLAY") && !env_set("WAYLAND_DISPLAY") &&
        !env_set("QT_QPA_PLATFORM") && !local_display_reachable(std::getenv("DISPLAY"))) {
        // Qt would abort the process here; say what is wrong instead.
        return fail(
            fmt::format("{} cannot reach the display {}: no X server is listening there (start "
                        "one, for example Xvfb {}, or use "
                        "--screenshot FILE).",
                        name, std::getenv("DISPLAY"), std::getenv("DISPLAY")));
    }
    if (!record.main_factory && !record.plain_factory)
        return fail(fmt::format("{} has no application to start.", name));

    std::unique_ptr<QApplication> own_qt;
    if (!QCoreApplication::instance()) {
        // Qt keeps pointers to these for the application's whole life.
        static std::vector<std::string> qt_args;
        static std::vector<char*> qt_argv;
        static int qt_argc = 0;
        qt_args.clear();
        qt_args.emplace_back(argc > 0 ? argv[0] : name);
        for (const auto& a : options->passthrough) qt_args.push_back(a);
        qt_argv.clear();
        for (auto& a : qt_args) qt_argv.push_back(a.data());
        qt_argv.push_back(nullptr);
        qt_argc = int(qt_args.size());
        own_qt = std::make_unique<QApplication>(qt_argc, qt_argv.data());
    }
    QCoreApplication::setApplicationName(QString::fromStdString(name));
    qt::install_access_factory();
    auto previous_metrics = install_font_metrics(std::make_shared<qt::QtFontMetrics>());
    SystemClipboard clipboard;
    widget::text_input::install_clipboard(&clipboard);

    if (!options->preview.empty() &&
        std::find(record.preview_states.begin(), record.preview_states.end(), options->preview) ==
            record.preview_states.end()) {
        log::warn(fmt::format("{} has no preview state named \"{}\"", name, options->preview));
    }
    std::unique_ptr<app::Application> application =
        record.main_factory ? record.main_factory(app::LaunchContext{options->preview})
                            : record.plain_factory();
    int status = 0;
    if (!application) {
        status = fail(fmt::format("{} could not create its application.", name));
    } else {
        auto app = std::make_unique<app::App>(std::move(application));
        if (record.register_actions) record.register_actions(*app);
        if (const char* reduced = std::getenv("VORN_REDUCED_MOTION");
            reduced && std::string_view(reduced) == "1") {
            app->application().set_reduced_motion(true);
        }
        auto [dw, dh] = record.default_window_size
                            ? record.default_window_size()
                            : std::pair<std::uint32_t, std::uint32_t>{1280, 800};
        QSize size = options->size ? QSize(options->size->first, options->size->second)
                                   : QSize(int(std::clamp<std::uint32_t>(dw, 1, kMaxSide)),
                                           int(std::clamp<std::uint32_t>(dh, 1, kMaxSide)));

        if (options->screenshot) {
            // Deterministic: no document, no devices, settled animations.
            qt::AppWindow window(std::move(app), nullptr, nullptr);
            window.resize(size);
            QImage image = window.render_settled(size);
            QImageWriter writer(QString::fromStdString(*options->screenshot), "png");
            if (!writer.write(image)) {
                status =
                    fail(fmt::format("Could not write the screenshot to {}: {}.",
                                     *options->screenshot, writer.errorString().toStdString()));
            }
        } else {
            std::unique_ptr<persist::DocumentStore> store;
            if (record.persistence_opener) {
                auto opened = record.persistence_opener();
                if (opened) {
                    store = std::move(*opened);
                } else {
                    log::warn(
                        fmt::format("running without the saved document: {}", opened.error()));
                }
            }
            qt::AppWindow window(std::move(app), std::move(store), fabric::make_default_backend());
            window.setWindowTitle(QString::fromStdString(name));
            window.resize(size);
            window.deliver_document();
            window.show();
            window.setFocus();
            status = QApplication::exec();
        }
    }
    widget::text_input::install_clipboard(nullptr);
    install_font_metrics(previous_metrics);
    return status;
}

[[noreturn]] void run_or_exit(LaunchRecord record, int argc, char** argv) {
    int status = run(std::move(record), argc, argv);
    std::fflush(stdout);
    std::exit(status);
}

}  // namespace vorn_ui::launch
