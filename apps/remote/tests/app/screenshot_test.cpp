// The built program, started offscreen in the three frame layouts: its screenshots must show the
// wide rail, the narrow drawer open over the scrim, and the closed drawer's menu button.

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "vorn/ui/colors.h"

namespace {

namespace fs = std::filesystem;
using vorn_ui::Color;
using vorn_ui::Colors;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;

    Color at(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
    }
};

std::optional<Picture> read_png(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
    image.format = PNG_FORMAT_RGBA;
    Picture p{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    p.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.rgba.data(), 0, nullptr)) return std::nullopt;
    return p;
}

// A scratch directory for the run's document, state and runtime files, removed afterwards.
class Screenshots : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/remote-screenshot-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs the program and returns its screenshot.
    Picture shoot(const std::string& preview, const std::string& size) {
        const fs::path out = dir_ / (preview.empty() ? "plain.png" : preview + ".png");
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string runtime = (dir_ / "runtime").string();
            fs::create_directory(runtime);
            fs::permissions(runtime, fs::perms::owner_all);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
            setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
            setenv("HOME", dir_.c_str(), 1);
            unsetenv("VORN_REMOTE_SAMPLE");
            std::vector<std::string> args = {REMOTE_BINARY, "--size", size, "--screenshot",
                                             out.string()};
            if (!preview.empty()) args.insert(args.begin() + 1, {"--preview", preview});
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        auto picture = read_png(out);
        EXPECT_TRUE(picture.has_value()) << out;
        return picture.value_or(Picture{});
    }

    fs::path dir_;
};

bool near(Color a, Color b, int tolerance = 3) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// Background under black at the scrim's opacity.
Color scrimmed(Color c) {
    const auto dim = [](std::uint8_t v) { return static_cast<std::uint8_t>(v * (1 - 0.26) + 0.5); };
    return {dim(c.r), dim(c.g), dim(c.b), 255};
}

::testing::AssertionResult pixel_is(const Picture& p, int x, int y, Color expected) {
    const Color got = p.at(x, y);
    if (near(got, expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is " << int(got.r) << "," << int(got.g) << ","
           << int(got.b) << ", expected " << int(expected.r) << "," << int(expected.g) << ","
           << int(expected.b);
}

TEST_F(Screenshots, WideLayoutShowsTheRail) {
    const Colors& c = Colors::dark();
    const Picture p = shoot("", "1280x800");
    ASSERT_EQ(p.width, 1280);
    ASSERT_EQ(p.height, 800);
    EXPECT_TRUE(pixel_is(p, 4, 400, c.surface));       // rail
    EXPECT_TRUE(pixel_is(p, 63, 400, c.border));       // its right edge
    EXPECT_TRUE(pixel_is(p, 640, 400, c.background));  // content, no scrim
    EXPECT_TRUE(pixel_is(p, 1270, 790, c.background));
}

TEST_F(Screenshots, NarrowOpenShowsTheRailOverTheScrim) {
    const Colors& c = Colors::dark();
    const Picture p = shoot("narrow-open", "600x800");
    ASSERT_EQ(p.width, 600);
    EXPECT_TRUE(pixel_is(p, 4, 400, c.surface));
    EXPECT_TRUE(pixel_is(p, 63, 400, c.border));
    EXPECT_TRUE(pixel_is(p, 300, 400, scrimmed(c.background)));
    EXPECT_TRUE(pixel_is(p, 16, 32, c.surface));  // menu button, inside its border
}

TEST_F(Screenshots, NarrowClosedShowsOnlyTheMenuButton) {
    const Colors& c = Colors::dark();
    const Picture p = shoot("narrow", "600x800");
    ASSERT_EQ(p.width, 600);
    EXPECT_TRUE(pixel_is(p, 4, 400, c.background));                           // no rail
    EXPECT_TRUE(pixel_is(p, 300, 400, c.background));                         // no scrim
    EXPECT_TRUE(pixel_is(p, 16, 32, c.surface));                              // menu button
    for (int y : {26, 32, 38}) EXPECT_TRUE(pixel_is(p, 32, y, c.text)) << y;  // its three bars
    EXPECT_TRUE(pixel_is(p, 32, 29, c.surface));                              // between the bars
}

}  // namespace
