#pragma once
// A single-line text input: caret, selection, clipboard copy/cut/paste,
// input-method text, placeholder. It paints into a Scene and edits on input
// events; the owner reads text() back after each event. UI thread only.

#include <cstddef>
#include <string>
#include <string_view>

#include "vorn/ui/input.h"
#include "vorn/ui/scene.h"
#include "vorn/ui/text.h"

namespace vorn_ui::widget::text_input {

// The platform's clipboard; the Qt backend installs the system one.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual std::string text() const = 0;
    virtual void set_text(std::string_view text) = 0;
};
void install_clipboard(Clipboard* clipboard);  // not owned; nullptr for a process-local one

struct Style {
    double size_pt = 14;
    Color text;
    Color placeholder;
    Color caret;
    Color selection;
    double padding_x = 12;
};

class TextInput {
public:
    static TextInput with_placeholder(std::string placeholder);
    // Marks the input as local to this device (never shared or synced).
    TextInput&& local() &&;

    const std::string& text() const { return text_; }
    const std::string& placeholder() const { return placeholder_; }
    bool is_local() const { return local_; }
    // Byte offsets into text(), always on UTF-8 character boundaries.
    std::size_t cursor_pos() const { return cursor_; }
    std::size_t selection_anchor() const { return anchor_; }

    // Replaces the text (malformed UTF-8 becomes U+FFFD); the caret goes to
    // the end, the selection is cleared.
    void set_text(std::string_view text);
    // Moves the caret (clamped, snapped back to a character boundary).
    void set_cursor_pos(std::size_t byte_offset);
    void set_placeholder(std::string placeholder);

    // Applies a key, pointer or input-method event; `bounds` is where the
    // input was last drawn (for caret placement by pointer). Returns true when
    // the event was used; text() tells whether the text changed.
    bool handle_event(const InputEvent& event, const Rect& bounds);

    void draw(Scene& scene, const Rect& bounds, bool focused, const Style& style) const;

private:
    TextInput() = default;
    std::string text_;
    std::string placeholder_;
    std::size_t cursor_ = 0;
    std::size_t anchor_ = 0;
    bool local_ = false;
    bool dragging_ = false;
    // What the last draw used, so a click lands where the text was shown:
    // draw() keeps the caret visible by adjusting the scroll it paints with.
    mutable double scroll_x_ = 0;
    mutable double drawn_size_pt_ = 14;
    mutable double drawn_padding_x_ = 12;
};

}  // namespace vorn_ui::widget::text_input
