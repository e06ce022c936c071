#pragma once
// 2-D geometry in view units (logical pixels): points, sizes, rectangles and
// affine transforms shared by the scene, input events and layout.

#include <algorithm>

namespace vorn_ui {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// Edges, not origin + size: x0/y0 inclusive, x1/y1 exclusive for hit tests.
struct Rect {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;

    static Rect from_origin_size(Point o, Size s) { return {o.x, o.y, o.x + s.width, o.y + s.height}; }
    double width() const { return x1 - x0; }
    double height() const { return y1 - y0; }
    Point origin() const { return {x0, y0}; }
    Point center() const { return {(x0 + x1) / 2, (y0 + y1) / 2}; }
    bool contains(Point p) const { return p.x >= x0 && p.x < x1 && p.y >= y0 && p.y < y1; }
    bool empty() const { return !(x1 > x0 && y1 > y0); }
    Rect inset(double d) const { return {x0 + d, y0 + d, x1 - d, y1 - d}; }
    Rect intersect(const Rect& o) const {
        return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
    Rect united(const Rect& o) const {
        return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Maps (x, y) to (a*x + c*y + e, b*x + d*y + f).
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    static Affine identity() { return {}; }
    static Affine translate(double dx, double dy) { return {1, 0, 0, 1, dx, dy}; }
    static Affine scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    Point apply(Point p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    // this ∘ o: apply o first, then this.
    Affine then_after(const Affine& o) const {
        return {a * o.a + c * o.b,     b * o.a + d * o.b,     a * o.c + c * o.d,
                b * o.c + d * o.d,     a * o.e + c * o.f + e, b * o.e + d * o.f + f};
    }
    friend bool operator==(const Affine&, const Affine&) = default;
};

}  // namespace vorn_ui
