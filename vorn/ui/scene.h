#pragma once
// The abstract 2-D scene every view paints into: fills and strokes of shapes,
// clip layers with opacity, images and text runs. The Qt backend renders it
// with QPainter; RecordingScene keeps the calls so drawing is testable
// without pixels. Used on the UI thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "vorn/ui/colors.h"
#include "vorn/ui/geometry.h"

namespace vorn_ui {

struct RoundedRect {
    Rect rect;
    double radius = 0;
    friend bool operator==(const RoundedRect&, const RoundedRect&) = default;
};

struct Circle {
    Point center;
    double radius = 0;
    friend bool operator==(const Circle&, const Circle&) = default;
};

class Path {
public:
    enum class Verb : std::uint8_t { Move, Line, Quad, Cubic, Close };
    struct Element {
        Verb verb;
        Point p[3];
    };
    Path& move_to(Point p) { return push({Verb::Move, {p, {}, {}}}); }
    Path& line_to(Point p) { return push({Verb::Line, {p, {}, {}}}); }
    Path& quad_to(Point c, Point p) { return push({Verb::Quad, {c, p, {}}}); }
    Path& cubic_to(Point c1, Point c2, Point p) { return push({Verb::Cubic, {c1, c2, p}}); }
    Path& close() { return push({Verb::Close, {}}); }
    const std::vector<Element>& elements() const { return elements_; }

private:
    Path& push(Element e) {
        elements_.push_back(e);
        return *this;
    }
    std::vector<Element> elements_;
};

using Shape = std::variant<Rect, RoundedRect, Circle, Path>;

// Straight (not premultiplied) RGBA, 8 bits a channel, rows of width * 4 bytes.
// The pixels are shared and never change once the image is made.
struct Image {
    int width = 0;
    int height = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> rgba;
};

enum class FontFace : std::uint8_t { Ui, Mono };

// One run of text at a baseline-less origin: `origin` is the top-left of the
// line box, as every layout in the program measures from there.
struct TextRun {
    std::string text;  // UTF-8
    Point origin;
    Color color;
    double size_pt = 14;
    int weight = 0;  // 0 regular, 1 medium, 2 semibold, 3 bold
    FontFace face = FontFace::Ui;
    Affine transform;  // applied after placing the run at `origin`
};

enum class Blend : std::uint8_t { Normal, Multiply, Screen };

class Scene {
public:
    virtual ~Scene() = default;
    virtual void fill(const Shape& shape, Color color, const Affine& transform = {}) = 0;
    virtual void stroke(const Shape& shape, Color color, double width, const Affine& transform = {}) = 0;
    // Everything until the matching pop_layer is clipped to `clip` and
    // composited with `opacity` and `blend`.
    virtual void push_layer(const Shape& clip, double opacity = 1.0, Blend blend = Blend::Normal) = 0;
    virtual void pop_layer() = 0;
    // Draws the whole image scaled into `dest`; `smooth` picks bilinear filtering.
    virtual void draw_image(const Image& image, const Rect& dest, bool smooth = true) = 0;
    virtual void draw_text(const TextRun& run) = 0;
};

// Keeps every call as an item, in order, for tests.
class RecordingScene final : public Scene {
public:
    struct Fill {
        Shape shape;
        Color color;
        Affine transform;
    };
    struct Stroke {
        Shape shape;
        Color color;
        double width;
        Affine transform;
    };
    struct PushLayer {
        Shape clip;
        double opacity;
        Blend blend;
    };
    struct PopLayer {};
    struct DrawImage {
        Image image;
        Rect dest;
        bool smooth;
    };
    using Item = std::variant<Fill, Stroke, PushLayer, PopLayer, DrawImage, TextRun>;

    void fill(const Shape& s, Color c, const Affine& t = {}) override;
    void stroke(const Shape& s, Color c, double w, const Affine& t = {}) override;
    void push_layer(const Shape& clip, double opacity = 1.0, Blend blend = Blend::Normal) override;
    void pop_layer() override;
    void draw_image(const Image& i, const Rect& d, bool smooth = true) override;
    void draw_text(const TextRun& run) override;

    // The recorded text runs, in drawing order.
    std::vector<TextRun> texts() const;

    std::vector<Item> items;
};

}  // namespace vorn_ui
